// velk-ar, velk-nm or velk-ranlib, as the build chooses: VELK_WRAPPER_TOOL
// names the tool run, VELK_WRAPPER_NAME the program, and
// VELK_WRAPPER_DASH_FIRST is 1 when a first argument without "-" (an
// archiver key) gets one.
#include "wrappers/archive_wrapper.h"

int main(int argc, char** argv) {
  static constexpr velk::wrappers::personality self{
      VELK_WRAPPER_TOOL, VELK_WRAPPER_NAME, VELK_WRAPPER_DASH_FIRST != 0};
  return velk::wrappers::run_wrapper(self, argc, argv);
}
