#include <gtest/gtest.h>

#include "support/capture.h"

using namespace dvtest;

TEST(Smoke, BuiltStreamIsCounted) {
  bytes stream = make_stream(3);
  captured r = run_in_process(stream);
  EXPECT_EQ(r.out, "============\nTotal frames: 0\nDIF Blocks analysed: 2\n");
  EXPECT_EQ(r.status, 0);
}
