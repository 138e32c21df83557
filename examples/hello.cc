#include <iostream>

int main() {
  std::cout << "Hello from velk++\n";
  return 0;
}
