// ctlstore: the control-store manager service of one Tarnway server.
#include "csmgr.h"

int main(int argc, char** argv) {
  return tw::csmgr::CSMgrServerMain(argc > 0 ? argv[0] : nullptr);
}
