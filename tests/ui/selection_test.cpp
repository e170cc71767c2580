#include "ui/selection.h"

#include <gtest/gtest.h>

namespace vornel::ui {
namespace {

std::vector<core::clsStream> Streams(std::initializer_list<int> rates) {
  std::vector<core::clsStream> streams;
  for (int rate : rates) streams.push_back({static_cast<std::int16_t>(rate), "u"});
  return streams;
}

struct ChoiceCase {
  std::vector<core::clsStream> streams;
  int defaultBitrate;
  int index;
};

class ChooseStreamTest : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(ChooseStreamTest, DefaultRateElseHighestBelowElseLowest) {
  EXPECT_EQ(ChooseStreamIndex(GetParam().streams, GetParam().defaultBitrate), GetParam().index);
}

INSTANTIATE_TEST_SUITE_P(Table, ChooseStreamTest,
                         ::testing::Values(ChoiceCase{Streams({32, 64, 128}), 64, 1},
                                           ChoiceCase{Streams({32, 64, 128}), 96, 1},
                                           ChoiceCase{Streams({64, 128}), 48, 0},
                                           ChoiceCase{Streams({32, 64}), 128, 1},
                                           ChoiceCase{Streams({128}), 48, 0}, ChoiceCase{Streams({}), 64, 0}));

TEST(BitrateButton, StepsAndWraps) {
  std::int16_t index = 0;
  std::vector<int> seen;
  for (int i = 0; i < 4; ++i) seen.push_back(index = NextStreamIndex(index, 3));
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 0, 1}));
  EXPECT_EQ(NextStreamIndex(0, 1), 0);
  EXPECT_EQ(NextStreamIndex(0, 0), 0);
}

TEST(StreamIndex, LoweredToWhatTheStationHas) {
  EXPECT_EQ(ClampStreamIndex(3, 2), 1);
  EXPECT_EQ(ClampStreamIndex(1, 2), 1);
  EXPECT_EQ(ClampStreamIndex(2, 0), 0);
}

TEST(StationAt, OutOfRangeIsNoStation) {
  std::vector<core::clsGroup> groups(2);
  groups[1].stations.resize(1);
  EXPECT_EQ(StationAt(groups, 1, 0), &groups[1].stations[0]);
  EXPECT_EQ(StationAt(groups, 0, 0), nullptr);
  EXPECT_EQ(StationAt(groups, 2, 0), nullptr);
  EXPECT_EQ(StationAt(groups, -1, 0), nullptr);
  EXPECT_EQ(StationAt({}, 0, 0), nullptr);
}

}  // namespace
}  // namespace vornel::ui
