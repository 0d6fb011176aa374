#include "tests/app/app_fixture.h"

namespace wl::test {

// The windows can be built and torn down repeatedly.
TEST_F(AppFixture, WindowsBuildAndTearDown) {
    Create();
    EXPECT_EQ(Form1, form1.get());
    EXPECT_EQ(Form2, form2.get());
    form2.reset();
    form1.reset();
    EXPECT_EQ(Form1, nullptr);
    EXPECT_EQ(Form2, nullptr);
}

}  // namespace wl::test
