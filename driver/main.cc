#include "driver/driver.h"

int main(int argc, char** argv) {
  velk::driver the_driver;
  return the_driver.main(argc, argv);
}
