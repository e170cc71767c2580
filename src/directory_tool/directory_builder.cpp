#include "directory_tool/directory_builder.h"

#include <QHash>

#include <algorithm>
#include <limits>
#include <map>
#include <numeric>
#include <optional>
#include <unordered_map>

#include "directory_tool/station_rules.h"

namespace vornel::directory_tool {
namespace {

// An entry that passed the filters.
struct Candidate {
  const RadioBrowserStation* entry = nullptr;
  std::string address;
  QString name;  // cleaned
  std::string nameUtf8;
  std::int16_t bitrate = 0;
  std::int64_t popularity = 0;
  std::size_t order = 0;  // position among the candidates, which follows the input
};

// A merged station: its streams' candidates in rising bit rate.
struct Station {
  std::vector<std::size_t> streams;
  std::size_t lead = 0;  // the most popular entry: it names the station and picks its group
  std::int64_t popularity = 0;
};

class DisjointSets {
 public:
  explicit DisjointSets(std::size_t size) : parent_(size) { std::iota(parent_.begin(), parent_.end(), 0); }
  std::size_t Find(std::size_t x) {
    while (parent_[x] != x) x = parent_[x] = parent_[parent_[x]];
    return x;
  }
  // The smaller index stays the root, so that a set is known by its first entry.
  void Join(std::size_t a, std::size_t b) {
    a = Find(a);
    b = Find(b);
    if (a != b) parent_[std::max(a, b)] = std::min(a, b);
  }

 private:
  std::vector<std::size_t> parent_;
};

std::int64_t Popularity(const RadioBrowserStation& entry) {
  return std::max<std::int64_t>(0, entry.votes) + std::max<std::int64_t>(0, entry.clicks);
}

// More popular first; among equals the earlier.
bool MorePopular(const Candidate& a, const Candidate& b) {
  return a.popularity != b.popularity ? a.popularity > b.popularity : a.order < b.order;
}

class Builder {
 public:
  Builder(const std::vector<RadioBrowserStation>& entries, const BuildOptions& options)
      : entries_(entries), options_(options) {}

  BuildResult Build() {
    counts_.entries = static_cast<int>(entries_.size());
    Filter();
    DropDuplicateAddresses();
    std::vector<Station> stations = Merge();
    counts_.stations = static_cast<int>(stations.size());
    for (const Station& station : stations) counts_.multiBitrate += station.streams.size() >= 2 ? 1 : 0;

    BuildResult result;
    result.directory.bannerPictureUrl = options_.bannerPictureUrl;
    result.directory.bannerUrl = options_.bannerUrl;
    Fill(result.directory, Group(stations));
    result.counts = counts_;
    return result;
  }

 private:
  void Filter() {
    for (const RadioBrowserStation& entry : entries_) {
      if (!entry.lastCheckOk) {
        ++counts_.failedCheck;
        continue;
      }
      if (!PlayableCodec(entry.codec, entry.hls)) {
        ++counts_.codecRefused;
        continue;
      }
      std::optional<std::string> address = DirectoryAddress(entry.url);
      if (!address) {
        ++counts_.noAddress;
        continue;
      }
      Candidate candidate;
      candidate.entry = &entry;
      candidate.address = std::move(*address);
      candidate.name = CleanName(entry.name);
      if (candidate.name.isEmpty()) {
        ++counts_.nameEmpty;
        continue;
      }
      std::optional<std::string> name = WritableName(candidate.name);
      if (!name) {
        ++counts_.nameUnwritable;
        continue;
      }
      candidate.nameUtf8 = std::move(*name);
      candidate.bitrate = ReportedBitrate(entry.bitrate);
      if (candidate.bitrate == 0) candidate.bitrate = BitrateFromText(candidate.name, entry.url);
      candidate.popularity = Popularity(entry);
      candidate.order = candidates_.size();
      candidates_.push_back(std::move(candidate));
    }
  }

  // Of the entries sharing an address the most popular stays.
  void DropDuplicateAddresses() {
    std::vector<std::size_t> byPopularity(candidates_.size());
    std::iota(byPopularity.begin(), byPopularity.end(), 0);
    std::sort(byPopularity.begin(), byPopularity.end(),
              [&](std::size_t a, std::size_t b) { return MorePopular(candidates_[a], candidates_[b]); });
    std::unordered_map<std::string_view, bool> seen;
    seen.reserve(candidates_.size());
    std::vector<bool> keep(candidates_.size(), false);
    for (std::size_t i : byPopularity) keep[i] = seen.emplace(candidates_[i].address, true).second;
    std::vector<Candidate> kept;
    kept.reserve(candidates_.size());
    for (std::size_t i = 0; i < candidates_.size(); ++i) {
      if (keep[i]) {
        kept.push_back(std::move(candidates_[i]));
        kept.back().order = kept.size() - 1;
      } else {
        ++counts_.duplicateAddress;
      }
    }
    candidates_ = std::move(kept);
  }

  std::vector<Station> Merge() {
    DisjointSets sets(candidates_.size());
    QHash<QString, std::size_t> firstWithKey;
    const auto join = [&](const QString& key, std::size_t i) {
      if (key.isEmpty()) return;
      const auto it = firstWithKey.constFind(key);
      if (it == firstWithKey.constEnd()) {
        firstWithKey.insert(key, i);
      } else {
        sets.Join(*it, i);
      }
    };
    for (std::size_t i = 0; i < candidates_.size(); ++i) {
      const Candidate& c = candidates_[i];
      // An entry of unknown bit rate could not be placed among a station's rates: it stays alone.
      if (c.bitrate <= 0) continue;
      const QString name = NameKey(c.name, c.bitrate);
      const QString homepage = HomepageKey(c.entry->homepage);
      if (!name.isEmpty() && !homepage.isEmpty())
        join(QStringLiteral("n ") + name + QChar(0x1F) + homepage, i);
      if (const QString mount = MountKey(c.entry->url, c.bitrate); !mount.isEmpty())
        join(QStringLiteral("m ") + mount, i);
    }

    std::map<std::size_t, std::vector<std::size_t>> members;  // by root, so in input order
    for (std::size_t i = 0; i < candidates_.size(); ++i) members[sets.Find(i)].push_back(i);

    std::vector<Station> stations;
    stations.reserve(members.size());
    for (auto& [root, set] : members) {
      Station station;
      station.lead = *std::min_element(set.begin(), set.end(), [&](std::size_t a, std::size_t b) {
        return MorePopular(candidates_[a], candidates_[b]);
      });
      for (std::size_t i : set) station.popularity += candidates_[i].popularity;
      // Rising bit rate; of two streams at one rate the more popular stays.
      std::sort(set.begin(), set.end(), [&](std::size_t a, std::size_t b) {
        const Candidate& ca = candidates_[a];
        const Candidate& cb = candidates_[b];
        return ca.bitrate != cb.bitrate ? ca.bitrate < cb.bitrate : MorePopular(ca, cb);
      });
      for (std::size_t i : set) {
        if (!station.streams.empty() &&
            candidates_[station.streams.back()].bitrate == candidates_[i].bitrate) {
          ++counts_.sameBitrate;
          continue;
        }
        station.streams.push_back(i);
      }
      counts_.merged += static_cast<int>(station.streams.size()) - 1;
      stations.push_back(std::move(station));
    }
    return stations;
  }

  struct NamedGroup {
    QString name;
    std::vector<const Station*> stations;
  };

  std::vector<NamedGroup> Group(const std::vector<Station>& stations) {
    std::vector<NamedGroup> groups;
    if (options_.grouping == Grouping::ByGenre) {
      for (const QString& name : GenreGroups()) groups.push_back({name, {}});
      for (const Station& station : stations)
        groups[GenreGroupOf(candidates_[station.lead].entry->tags)].stations.push_back(&station);
    } else {
      // Countries in alphabetical order; stations without a country, or with one that cannot be
      // written, go last.
      std::map<QString, NamedGroup> byKey;
      NamedGroup other{GenreGroups().back(), {}};
      for (const Station& station : stations) {
        const QString country = CountryGroupName(candidates_[station.lead].entry->country);
        if (country.isEmpty()) {
          other.stations.push_back(&station);
          continue;
        }
        NamedGroup& group = byKey[country.toLower()];
        if (group.name.isEmpty()) group.name = country;
        group.stations.push_back(&station);
      }
      for (auto& [key, group] : byKey) groups.push_back(std::move(group));
      groups.push_back(std::move(other));
    }
    std::erase_if(groups, [](const NamedGroup& group) { return group.stations.empty(); });

    for (NamedGroup& group : groups) {
      std::stable_sort(group.stations.begin(), group.stations.end(), [&](const Station* a, const Station* b) {
        if (a->popularity != b->popularity) return a->popularity > b->popularity;
        const int byName =
            QString::compare(candidates_[a->lead].name, candidates_[b->lead].name, Qt::CaseInsensitive);
        return byName != 0 ? byName < 0 : a->lead < b->lead;
      });
      if (options_.perGroup > 0 && group.stations.size() > static_cast<std::size_t>(options_.perGroup)) {
        counts_.capped += static_cast<int>(group.stations.size()) - options_.perGroup;
        group.stations.resize(static_cast<std::size_t>(options_.perGroup));
      }
    }
    return groups;
  }

  void Fill(core::Directory& directory, const std::vector<NamedGroup>& groups) {
    constexpr int kLastNumber = std::numeric_limits<std::int16_t>::max();
    int id = 0;
    for (const NamedGroup& named : groups) {
      core::clsGroup group;
      group.id = static_cast<std::int16_t>(directory.groups.size());
      group.name = named.name.toStdString();
      for (const Station* station : named.stations) {
        if (id == kLastNumber) {
          ++counts_.outOfNumbers;
          continue;
        }
        core::clsStation record;
        record.id = static_cast<std::int16_t>(++id);
        record.name = candidates_[station->lead].nameUtf8;
        record.category = std::to_string(group.id);
        for (std::size_t i : station->streams)
          record.AddStream(candidates_[i].bitrate, candidates_[i].address);
        counts_.writtenMultiBitrate += record.streams.size() >= 2 ? 1 : 0;
        group.stations.push_back(std::move(record));
      }
      counts_.written += static_cast<int>(group.stations.size());
      directory.groups.push_back(std::move(group));
    }
  }

  const std::vector<RadioBrowserStation>& entries_;
  const BuildOptions& options_;
  std::vector<Candidate> candidates_;
  BuildCounts counts_;
};

}  // namespace

BuildResult BuildDirectory(const std::vector<RadioBrowserStation>& entries, const BuildOptions& options) {
  return Builder(entries, options).Build();
}

}  // namespace vornel::directory_tool
