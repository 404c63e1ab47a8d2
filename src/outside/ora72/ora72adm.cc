// ora72adm: makes the database of an ORA72 server.
//   ora72adm DIR SERVER USER PASSWORD CHARSET [CLOCK]
// CLOCK ("YYYY-MM-DD HH:MM:SS") fixes what SYSDATE answers. Exit 0 on success, 1 otherwise.
#include <cstdio>

#include "ora72.h"

int main(int argc, char** argv) {
  if (argc != 6 && argc != 7) {
    std::fprintf(stderr,
                 "usage: ora72adm DIR SERVER USER PASSWORD NLS_CHARACTERSET "
                 "[\"YYYY-MM-DD HH:MM:SS\"]\n");
    return 1;
  }
  char message[512] = {};
  int rc = OraAdmCreate(argv[1], argv[2], argv[3], argv[4], argv[5], argc == 7 ? argv[6] : nullptr,
                        message, sizeof message);
  if (rc != 0) {
    std::fprintf(stderr, "ora72adm: ORA-%05d: %s\n", rc, message);
    return 1;
  }
  return 0;
}
