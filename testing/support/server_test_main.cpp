// The main of the test programs that talk to the server as its clients do: every such test
// talks COM from the main thread, in one single-threaded apartment around all the tests.
#include <gtest/gtest.h>
#include <objbase.h>

namespace {

class ComEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  void TearDown() override { ::CoUninitialize(); }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new ComEnvironment);
  return RUN_ALL_TESTS();
}
