#include "platform/failure.h"
#include "platform/platform.h"
#include "txtSHADE.h"

int main(int argc, char* argv[]) {
  os::StartUp(argc, argv, HandleFault);
  return RunProgram(TxtShadeRun);
}
