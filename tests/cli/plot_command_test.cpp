#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <QColor>
#include <QString>
#include <QStringList>
#include <QXmlStreamReader>
#include <array>
#include <cmath>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/command_style.h"
#include "plot/plot_chart.h"
#include "testutil/env_guard.h"
#include "testutil/program_process.h"
#include "testutil/sha1.h"
#include "testutil/temp_dir.h"

namespace tly {
namespace {

// A day file sealed as the format wants it (the seal computed by OpenSSL).
std::string SealedDayFile(const std::vector<std::string>& header,
                          const std::vector<std::string>& rows) {
  std::string row_text;
  for (const std::string& row : rows) row_text += row + "\r\n";
  std::string text;
  for (const std::string& line : header) text += line + "\r\n";
  text += "#S" + testing::Sha1UpperHex(row_text) + "\r\n";
  text += "Magasin \tDate \tHeure \t CANALS\t\t\t\r\n\t\t\tCNL1\tCNL2\tCNL3\tCNL4\r\n";
  return text + row_text;
}

// A site unlike the generator's: doors listed North, Mall, Staff, Spare;
// channel 1 enters the Mall, channel 3 the North door, which has two exit
// channels (4 and 6); channel 5 is inactive, so its counts are never drawn,
// and no active channel belongs to Staff or Spare.
const std::vector<std::string> kHeader = {"#TRV9",
                                          "#M last updated at 01/12/2026 18:00",
                                          "#D1DNorth",
                                          "#D2CMall",
                                          "#D3DStaff",
                                          "#D4DSpare",
                                          "#C1YE2",
                                          "#C2YX2",
                                          "#C3YE1",
                                          "#C4YX1",
                                          "#C5IE3",
                                          "#C6YB1 second exit",
                                          "#C7IE4",
                                          "#C8IX4",
                                          "#R1111111111111111",
                                          "#K1.000",
                                          "#F0"};

struct Row {
  int slot;
  std::array<int, 6> channels;
};

std::string RowText(const std::string& date, const Row& row) {
  char time[32];
  std::snprintf(time, sizeof time, "%02d:%02d", row.slot / 4, row.slot % 4 * 15);
  std::string text = "001\t" + date + "\t" + time;
  for (const int count : row.channels) text += "\t " + std::to_string(count);
  return text;
}

struct Day {
  std::string name, date;
  std::vector<Row> rows;
};

const std::vector<Day> kDays = {
    {"261201.tly",
     "01/12/2026",
     {{32, {5, 3, 12, 7, 40, 2}},
      {33, {0, 4, 9, 0, 99, 1}},
      {50, {17, 6, 3, 11, 0, 0}},
      {71, {2, 3, 9, 8, 5, 1}}}},
    {"261202.tly", "02/12/2026", {{36, {8, 1, 6, 2, 0, 3}}, {40, {1, 7, 4, 4, 0, 0}}}},
};

// What the chart must show, worked out from the layout above by hand:
// door 0 is North (channels 3 in, 4 and 6 out), door 1 the Mall (1 in, 2 out).
struct Expected {
  int global_slot;
  std::array<int, 2> in, out;  // by door
};

std::vector<Expected> ExpectedBars() {
  std::vector<Expected> bars;
  for (size_t d = 0; d < kDays.size(); ++d) {
    for (const Row& row : kDays[d].rows) {
      const auto& c = row.channels;
      bars.push_back({static_cast<int>(d) * 96 + row.slot, {c[2], c[0]}, {c[3] + c[5], c[1]}});
    }
  }
  return bars;
}

class PlotCommand : public ::testing::Test {
 protected:
  PlotCommand() {
    for (const Day& day : kDays) {
      std::vector<std::string> rows;
      for (const Row& row : day.rows) rows.push_back(RowText(day.date, row));
      testing::WriteBytes(dir_.File(day.name), SealedDayFile(kHeader, rows));
      files_.push_back(dir_.File(day.name));
    }
  }

  // Runs the program's plot with `args` in the test directory, `env` added to
  // its environment; its exit code.
  int Plot(std::vector<std::string> args, std::vector<std::string> env = {}) {
    args.insert(args.begin(), "plot");
    testing::Program program(testing::GeneratorProgram(), args, output_.path(), std::move(env),
                             dir_.path());
    const int code = program.Wait();
    err_ = program.Err();
    return code;
  }

  testing::TempDir dir_;
  testing::TempDir output_;
  std::vector<std::string> files_;
  std::string err_;
};

// Width and height of a PNG from its header.
std::pair<int, int> PngSize(const std::string& bytes) {
  if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0) return {-1, -1};
  const auto word = [&](size_t at) {
    int value = 0;
    for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
  };
  return {word(16), word(20)};
}

// With no display and no platform named, the chart is drawn offscreen, to
// chart.png in the current directory unless --out names another file.
TEST_F(PlotCommand, WritesAPictureOfTheRequestedSizeWithoutADisplay) {
  ASSERT_EQ(Plot({files_[0]}), 0) << err_;
  EXPECT_EQ(PngSize(testing::ReadBytes(dir_.File("chart.png"))), std::make_pair(1600, 900));
  ASSERT_EQ(Plot({files_[0], files_[1], "--size", "640x480", "--out", "week.PNG"}), 0) << err_;
  EXPECT_EQ(PngSize(testing::ReadBytes(dir_.File("week.PNG"))), std::make_pair(640, 480));
}

// A rectangle of the SVG with the colour it is filled with.
struct SvgRect {
  QColor fill;
  double x, y, width, height;
};

struct SvgChart {
  std::vector<SvgRect> rects;
  std::vector<std::vector<std::pair<double, double>>> occupancy_lines;
};

// Reads the rectangles and the occupancy lines (polylines of the line's
// colour with more than two points) from the chart; fill and stroke come from
// the enclosing groups.
SvgChart ReadSvg(const std::string& bytes) {
  SvgChart chart;
  QXmlStreamReader xml(QByteArray::fromStdString(bytes));
  std::vector<std::pair<QString, QString>> groups;  // fill, stroke
  while (!xml.atEnd()) {
    xml.readNext();
    if (xml.isEndElement() && xml.name() == u"g") groups.pop_back();
    if (!xml.isStartElement()) continue;
    const auto attributes = xml.attributes();
    if (xml.name() == u"g") {
      groups.emplace_back(attributes.value("fill").toString(),
                          attributes.value("stroke").toString());
    } else if (xml.name() == u"rect" && !groups.empty()) {
      chart.rects.push_back({QColor(groups.back().first), attributes.value("x").toDouble(),
                             attributes.value("y").toDouble(), attributes.value("width").toDouble(),
                             attributes.value("height").toDouble()});
    } else if (xml.name() == u"polyline" && !groups.empty() &&
               QColor(groups.back().second) == OccupancyColor()) {
      std::vector<std::pair<double, double>> points;
      for (const QString& point :
           attributes.value("points").toString().split(' ', Qt::SkipEmptyParts)) {
        const QStringList xy = point.split(',');
        points.emplace_back(xy[0].toDouble(), xy[1].toDouble());
      }
      if (points.size() > 2) chart.occupancy_lines.push_back(points);
    }
  }
  EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
  return chart;
}

// The heights of the bars read back from the SVG are the file's counts, each
// at its door, direction and quarter hour, on one scale; the stacks stand on
// one base line; the occupancy line follows entries minus exits from zero at
// the start of each day.
TEST_F(PlotCommand, BarsAndOccupancyOfAnSvgAreTheFilesCounts) {
  ASSERT_EQ(Plot({files_[0], files_[1], "--out", "chart.svg", "--size", "1500x800"}), 0) << err_;
  const SvgChart chart = ReadSvg(testing::ReadBytes(dir_.File("chart.svg")));

  struct Bar {
    int door;
    bool out;
    SvgRect rect;
  };
  std::vector<Bar> bars;
  for (const SvgRect& rect : chart.rects) {
    for (int door = 0; door < 8; ++door) {
      for (const bool out : {false, true}) {
        if (rect.fill == DoorBarColor(door, out)) bars.push_back({door, out, rect});
      }
    }
  }
  const std::vector<Expected> expected = ExpectedBars();
  int total = 0;
  double total_height = 0;
  for (const Expected& slot : expected) {
    for (int door = 0; door < 2; ++door) total += slot.in[door] + slot.out[door];
  }
  for (const Bar& bar : bars) total_height += bar.rect.height;
  ASSERT_GT(total_height, 0);
  const double scale = total_height / total;

  // The i-th distinct bar position is the i-th quarter hour that has counts,
  // and the positions follow the quarter hours evenly across both days.
  std::vector<double> xs;
  for (const Bar& bar : bars) {
    if (std::find_if(xs.begin(), xs.end(),
                     [&](double x) { return std::abs(x - bar.rect.x) < 1e-3; }) == xs.end())
      xs.push_back(bar.rect.x);
  }
  std::sort(xs.begin(), xs.end());
  ASSERT_EQ(xs.size(), expected.size());
  const double slot_width =
      (xs.back() - xs.front()) / (expected.back().global_slot - expected.front().global_slot);
  double base = 0;
  for (const Bar& bar : bars) {
    if (!bar.out) base = std::max(base, bar.rect.y + bar.rect.height);
  }

  for (size_t i = 0; i < expected.size(); ++i) {
    const Expected& slot = expected[i];
    EXPECT_NEAR(xs[i], xs.front() + (slot.global_slot - expected.front().global_slot) * slot_width,
                1e-2)
        << "quarter hour " << slot.global_slot;
    std::array<double, 2> in{}, out{};
    double top = base, bottom = base;
    for (const Bar& bar : bars) {
      if (std::abs(bar.rect.x - xs[i]) > 1e-3) continue;
      (bar.out ? out : in)[bar.door] += bar.rect.height / scale;
      if (bar.out) {
        EXPECT_GE(bar.rect.y, base - 1e-3);
        bottom = std::max(bottom, bar.rect.y + bar.rect.height);
      } else {
        top = std::min(top, bar.rect.y);
      }
    }
    for (int door = 0; door < 2; ++door) {
      EXPECT_NEAR(in[door], slot.in[door], 1e-3)
          << "entries, door " << door << ", slot " << slot.global_slot;
      EXPECT_NEAR(out[door], slot.out[door], 1e-3)
          << "exits, door " << door << ", slot " << slot.global_slot;
    }
    // Stacked without gaps or overlaps: the stack is as high as its bars.
    EXPECT_NEAR((base - top) / scale, slot.in[0] + slot.in[1], 1e-3);
    EXPECT_NEAR((bottom - base) / scale, slot.out[0] + slot.out[1], 1e-3);
  }

  ASSERT_EQ(chart.occupancy_lines.size(), kDays.size());
  for (size_t d = 0; d < kDays.size(); ++d) {
    const auto& points = chart.occupancy_lines[d];
    const int last_slot = kDays[d].rows.back().slot;
    ASSERT_EQ(points.size(), static_cast<size_t>(last_slot + 2)) << "day " << d;
    EXPECT_NEAR(points.front().second, base, 1e-2) << "each day starts from zero";
    std::vector<int> occupancy(last_slot + 1, 0);
    int people = 0;
    for (int slot = 0; slot <= last_slot; ++slot) {
      for (const Expected& bar : expected) {
        if (bar.global_slot == static_cast<int>(d) * 96 + slot)
          people += bar.in[0] + bar.in[1] - bar.out[0] - bar.out[1];
      }
      occupancy[slot] = people;
    }
    const double per_person = (base - points[last_slot + 1].second) / occupancy[last_slot];
    for (int slot = 0; slot <= last_slot; ++slot) {
      EXPECT_NEAR(base - points[slot + 1].second, occupancy[slot] * per_person, 1e-2)
          << "day " << d << ", slot " << slot;
      EXPECT_NEAR(points[slot + 1].first - points[slot].first, slot_width, 1e-2);
    }
  }
}

// plot refuses every file verify calls BAD, naming the problem verify names
// first, which is also the first of verify --json's problems: here files whose
// structure and seal are sound but whose rows are not (more leave than enter,
// rows of another day than the file's name).
TEST_F(PlotCommand, RefusesWhatVerifyCallsBadWithTheProblemVerifyNames) {
  const std::string negative = dir_.File("261203.tly");
  testing::WriteBytes(negative,
                      SealedDayFile(kHeader, {RowText("03/12/2026", {40, {0, 0, 0, 5, 0, 0}})}));
  const std::string misnamed = dir_.File("261209.tly");
  std::filesystem::copy_file(files_[0], misnamed);
  for (const std::string& file : {negative, misnamed}) {
    const testing::ProgramOutcome text = testing::RunGeneratorToEnd({"verify", file});
    const testing::ProgramOutcome json = testing::RunGeneratorToEnd({"verify", "--json", file});
    ASSERT_EQ(text.code, 1) << text.out;
    const std::string problem = text.out.substr(text.out.find(": BAD: ") + 7);
    EXPECT_EQ(nlohmann::json::parse(json.out)["problems"][0]["problem"].get<std::string>() + "\n",
              problem);
    EXPECT_EQ(Plot({file}), 1) << file;
    EXPECT_NE(
        err_.find(file + " is not a sound day file: " + problem.substr(0, problem.size() - 1)),
        std::string::npos)
        << err_;
  }
}

// A file that is not a sound day file (a count changed after sealing, or no
// day file at all) is named, exits 1 and writes nothing unless --force asks
// for what can be read; bad options are usage errors before any file is read.
TEST_F(PlotCommand, RefusesBadFilesAndBadOptions) {
  std::string tampered = testing::ReadBytes(files_[0]);
  tampered.replace(tampered.find("\t 40\t"), 5, "\t 41\t");
  testing::WriteBytes(files_[0], tampered);
  testing::WriteBytes(dir_.File("notes.txt"), "shopping list\n");

  EXPECT_EQ(Plot({files_[1], files_[0]}), 1);
  EXPECT_NE(err_.find("tly-generator plot: " + files_[0] + " is not a sound day file"),
            std::string::npos)
      << err_;
  EXPECT_EQ(Plot({dir_.File("notes.txt")}), 1);
  EXPECT_NE(err_.find(dir_.File("notes.txt") + " is not a sound day file"), std::string::npos)
      << err_;
  EXPECT_EQ(Plot({dir_.File("missing.tly")}), 1);
  EXPECT_NE(err_.find("cannot read " + dir_.File("missing.tly")), std::string::npos) << err_;
  EXPECT_FALSE(std::filesystem::exists(dir_.File("chart.png")));

  EXPECT_EQ(Plot({files_[1], files_[0], "--force", "--size", "400x300"}), 0) << err_;
  EXPECT_NE(err_.find(files_[0]), std::string::npos) << "the problem is still reported";
  EXPECT_EQ(PngSize(testing::ReadBytes(dir_.File("chart.png"))), std::make_pair(400, 300));

  for (const std::string size : {"319x300", "400x239", "10001x300", "+400x300", "400x300 ",
                                 "400X300", "0x0", "400x", "x300", "400x300x2", "1e3x300"}) {
    EXPECT_EQ(Plot({files_[1], "--size", size, "--out", "other.png"}), 2) << size;
  }
  EXPECT_NE(err_.find("tly-generator plot: --size"), std::string::npos) << err_;
  EXPECT_EQ(Plot({files_[1], "--out", "chart.jpg"}), 2);
  EXPECT_EQ(Plot({files_[1], "--out", "svg"}), 2);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("other.png")));

  // A missing output folder is told before any file is read; a file larger
  // than any day file is not what plot is for.
  testing::WriteBytes(dir_.File("huge.tly"), std::string(kMaxDayFileBytes + 1, '0'));
  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{dir_.File("missing.tly"), "--out", "missing/dir/x.png"},
       "--out missing/dir/x.png cannot be written: the folder missing/dir"},
      {{files_[1], dir_.File("huge.tly")}, "huge.tly: larger than 1 MiB"},
  };
  for (const auto& [args, error] : refused) {
    EXPECT_EQ(Plot(args), 2) << args.back();
    EXPECT_NE(err_.find(error), std::string::npos) << err_;
    EXPECT_EQ(err_.find("missing.tly"), std::string::npos) << err_;
  }
}

// The chart is drawn offscreen whatever platform the environment names, and
// without a runtime directory the toolkit neither warns nor makes one.
TEST_F(PlotCommand, DrawsOffscreenWhateverThePlatform) {
  const testing::EnvGuard runtime("XDG_RUNTIME_DIR");
  ::unsetenv("XDG_RUNTIME_DIR");
  // Where the toolkit would make one: the program's folder is its temporary
  // folder when it may write there.
  const std::string runtime_dir = std::filesystem::path(testing::GeneratorProgram()).parent_path() /
                                  ("runtime-" + std::string(::getpwuid(::geteuid())->pw_name));
  const bool there_before = std::filesystem::exists(runtime_dir);
  for (const std::string platform : {"wayland", "xcb", "bogus"}) {
    ASSERT_EQ(Plot({files_[0]}, {"QT_QPA_PLATFORM=" + platform}), 0) << platform << err_;
    EXPECT_EQ(err_, "") << platform;
  }
  EXPECT_EQ(std::filesystem::exists(runtime_dir), there_before);
}

}  // namespace
}  // namespace tly
