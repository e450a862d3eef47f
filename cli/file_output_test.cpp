// Files finished in any order, written in the batch's order.
#include "cli/file_output.h"

#include <gtest/gtest.h>

#include <thread>

#include "cli/captured_output.h"

namespace veskor {
namespace {

TEST(OrderedOutput, WritesEachFileInItsTurnWhateverOrderTheyFinishIn) {
  Captured captured;
  {
    OrderedOutput batch;
    FileOutput& a = batch.Open();
    FileOutput& b = batch.Open();
    FileOutput& c = batch.Open();
    bool a_finished = false;
    bool made_after_a = false;
    EXPECT_TRUE(b.Out("b1 "));
    EXPECT_TRUE(b.OutInTurn([&] {
      made_after_a = a_finished;
      return std::string("made ");
    }));
    b.Err("b's message");
    EXPECT_TRUE(c.Out("c "));
    batch.Finish(c);
    EXPECT_TRUE(a.Out("a "));
    a.Err("a's message");
    EXPECT_EQ(captured.Out(), "a ");  // the first file writes through
    a_finished = true;
    batch.Finish(a);
    EXPECT_TRUE(made_after_a);
    EXPECT_TRUE(b.Out("b2 "));
    batch.Finish(b);
  }
  EXPECT_EQ(captured.Out(), "a b1 made b2 c ");
  EXPECT_EQ(captured.Err(), "a's message\nb's message\n");
}

TEST(OrderedOutput, AFileOverTheHeldLimitWaitsForItsTurnAndALastFileEndsTheBatch) {
  Captured captured;
  {
    OrderedOutput batch(/*held_limit=*/4);
    FileOutput& a = batch.Open();
    FileOutput& b = batch.Open();
    FileOutput& c = batch.Open();
    EXPECT_TRUE(c.Out("c"));
    std::thread second([&] {
      EXPECT_TRUE(b.Out("0123456789"));  // waits until `a` is done
      batch.Finish(b, /*last=*/true);
    });
    EXPECT_TRUE(a.Out("a "));
    batch.Finish(a);
    second.join();
    EXPECT_FALSE(c.Out("more"));
    batch.Finish(c);
  }
  EXPECT_EQ(captured.Out(), "a 0123456789");
}

}  // namespace
}  // namespace veskor
