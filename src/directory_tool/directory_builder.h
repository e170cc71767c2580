#pragma once

// From Radio Browser's entries to the player's directory: only working stations the player can
// play, one address once, entries of one station merged into one station with its bit rates in
// rising order, grouped by genre or by country, the most popular first, a cap per group.

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

#include "core/directory.h"
#include "directory_tool/radio_browser.h"

namespace vornel::directory_tool {

enum class Grouping { ByGenre, ByCountry };

struct BuildOptions {
  Grouping grouping = Grouping::ByGenre;
  int perGroup = 200;  // stations kept per group, the most popular; 0 keeps all
  std::string bannerPictureUrl;
  std::string bannerUrl;
};

// What became of the entries; each entry is counted in exactly one of the "left out" lines or
// ends up in a station.
struct BuildCounts {
  int entries = 0;
  int failedCheck = 0;       // left out: the last check failed
  int codecRefused = 0;      // left out: a codec the player does not play
  int noAddress = 0;         // left out: no http(s) address
  int nameEmpty = 0;         // left out: nothing left of the name
  int nameUnwritable = 0;    // left out: Windows-1251 cannot hold the name
  int duplicateAddress = 0;  // left out: another entry has the same address
  int sameBitrate = 0;       // left out: merged station already has a stream of this bit rate
  int merged = 0;            // entries that became another entry's station's stream
  int stations = 0;          // stations before the caps
  int multiBitrate = 0;      // of those, stations with two or more bit rates
  int capped = 0;            // stations over a group's cap
  int outOfNumbers = 0;      // stations past the last 16-bit station number
  int written = 0;           // stations in the directory
  int writtenMultiBitrate = 0;
};

struct BuildResult {
  core::Directory directory;
  BuildCounts counts;
};

BuildResult BuildDirectory(const std::vector<RadioBrowserStation>& entries, const BuildOptions& options);

}  // namespace vornel::directory_tool
