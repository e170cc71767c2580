#pragma once

// Where the player keeps what it writes: the cached station directory and the recordings.
//
// A program folder the user may write to is a portable player, and everything stays in it as it
// always did: stations.dat beside the program and recordings in REC/, which the player never
// makes. An installed player's folder belongs to the system, so the cache goes to the user's cache
// folder ($XDG_CACHE_HOME/Vornel/stations.dat, first copied from the one the program brings) and
// recordings to the user's music folder (Vornel/ in the XDG music folder, else ~/Music/Vornel),
// both made when missing.

#include <string>

namespace vornel::core {

struct DataPlaces {
  bool portable = true;
  std::string stationsFile;  // the cached directory, read at start and replaced after a download
  std::string recordFolder;  // recordings go straight into it
};

// True when a file can be made in `folder`. Found by making one: permission bits say nothing
// for root, nor of a read-only mount.
bool FolderIsWritable(const std::string& folder);

// The places for `programFolder`, deciding by FolderIsWritable. An installed player's folders are
// made and its cache seeded here; what fails is logged and shows later, where it is used.
DataPlaces ResolveDataPlaces(const std::string& programFolder);

// The same with the decision given, so that both ways are tried whoever runs the tests.
DataPlaces ResolveDataPlaces(const std::string& programFolder, bool programFolderWritable);

}  // namespace vornel::core
