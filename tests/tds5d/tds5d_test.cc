#include "tds5d_fixture.h"
TEST(Tds5d, Starts) {
  twtest::Tds5dServer server;
  ASSERT_TRUE(server.started());
}
