#include "studio/studio_window.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QDateEdit>
#include <QDateTimeEdit>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTimeZone>
#include <filesystem>
#include <set>
#include <string>

#include "cli/verify_command.h"
#include "delivery/test_servers.h"
#include "faults/fault_truth_reader.h"
#include "scenario/scenario_file.h"
#include "studio/checks_view.h"
#include "studio/day_view.h"
#include "studio/deliveries_view.h"
#include "studio/file_text_view.h"
#include "studio/history_dialog.h"
#include "studio/live_view.h"
#include "studio/scenario_view.h"
#include "studio/traffic_chart_widget.h"
#include "testutil/temp_dir.h"
#include "testutil/wait_for.h"
#include "ui_studio_window.h"

namespace tly {
namespace {

namespace fs = std::filesystem;
using testing::kGenerousDeadline;

constexpr int kDeadlineMs = static_cast<int>(kGenerousDeadline.count() * 1000);

// Two sites, one with an outage planted in every day.
constexpr char kTwoSites[] = R"toml(seed = 7
[[site]]
name = "north"
shop_code = "N1"
profile = "retail"
visitors = 1500
[site.faults]
outage = 1
[[site]]
name = "south"
shop_code = "S2"
profile = "office"
visitors = 600
)toml";

std::vector<std::string> DayFilesUnder(const std::string& dir) {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.path().extension() == ".tly") files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool AnyTemporaryFileUnder(const std::string& dir) {
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.path().extension() == ".tmp") return true;
  }
  return false;
}

std::string FirstProblem(const std::string& path) {
  const std::string bytes = testing::ReadBytes(path);
  return CheckReadDayFile(path, bytes).first_problem;
}

class StudioTest : public ::testing::Test {
 protected:
  void SetUp() override { QSettings().clear(); }

  // The window, its dialogs answered by the test.
  std::unique_ptr<StudioWindow> Open() {
    auto window = std::make_unique<StudioWindow>();
    window->ChooseFile = [this](const QString&, const QString&) {
      return QString::fromStdString(chosen_file_);
    };
    window->ChooseFolder = [this](const QString&, const QString&) {
      return QString::fromStdString(out_);
    };
    return window;
  }

  // Runs the scenario live for a simulated hour from `start`, to its end by
  // itself; returns how it stopped ("" when it did not within the deadline).
  QString RunOneHour(StudioWindow& window, const QDateTime& start) {
    window.Live()->StartEdit()->setDateTime(start);
    window.Live()->SpeedEdit()->setValue(100000);
    window.Live()->HoursEdit()->setValue(1);
    QSignalSpy stopped(&window, &StudioWindow::LiveStopped);
    window.Form().actionStartLive->trigger();
    if (!stopped.wait(kDeadlineMs)) return QString();
    return stopped.front().front().toString();
  }

  // Opens `text` as a scenario file through the File menu.
  void OpenScenario(StudioWindow& window, const std::string& text) {
    chosen_file_ = dir_.File("scenario.toml");
    testing::WriteBytes(chosen_file_, text);
    window.Form().actionOpenScenario->trigger();
  }

  // Runs a backfill of `from` to `to` through the history dialog.
  QString Backfill(StudioWindow& window, const QDate& from, const QDate& to) {
    window.Form().actionBackfill->trigger();
    HistoryDialog* history = window.History();
    EXPECT_NE(history, nullptr);
    if (history == nullptr) return {};
    history->From()->setDate(from);
    history->To()->setDate(to);
    history->Jobs()->setValue(2);
    QSignalSpy finished(history, &HistoryDialog::Finished);
    history->StartButton()->click();
    EXPECT_TRUE(finished.wait(kDeadlineMs));
    const QString outcome = history->Outcome();
    history->close();
    return outcome;
  }

  testing::TempDir dir_;
  std::string out_ = dir_.File("out");
  std::string chosen_file_;
};

// The scenario page shows every site of the example, and of a bad file its
// error with the line highlighted; nothing can be generated from it.
TEST_F(StudioTest, ScenarioPageShowsTheSitesOrTheErrorAtItsLine) {
  auto window = Open();
  window->Form().actionOpenExample->trigger();
  const Scenario example = ParseScenario(ExampleScenario(), "example");
  QTableWidget* sites = window->Scenarios()->Sites();
  ASSERT_EQ(sites->rowCount(), static_cast<int>(example.sites.size()));
  for (int row = 0; row < sites->rowCount(); ++row) {
    const SiteSettings& site = example.sites[static_cast<size_t>(row)];
    EXPECT_EQ(sites->item(row, 0)->text().toStdString(), site.name);
    EXPECT_EQ(sites->item(row, 1)->text().toStdString(), site.shop_code);
    EXPECT_EQ(sites->item(row, 2)->text().toStdString(), ProfileName(site.profile));
    EXPECT_EQ(sites->item(row, 3)->text().toStdString(), site.time_zone);
  }

  // The delivery column: the url as the site's device uses it, its query
  // (which may hold a token) left out, and the schedule.
  OpenScenario(
      *window,
      std::string(kTwoSites) +
          "[site.delivery]\nurl = \"https://in.example/{shop_code}/{site}/?token=s3cret\"\n"
          "every_minutes = 5\n");
  ASSERT_EQ(sites->rowCount(), 2);
  EXPECT_EQ(sites->item(0, 7)->text(), QStringLiteral("none"));
  EXPECT_EQ(sites->item(1, 7)->text(),
            QStringLiteral("https://in.example/S2/south/, every 5 minutes"));

  OpenScenario(*window, std::string(kTwoSites) + "visitors_per_hour = 3\n");
  const int bad_line = 14;
  EXPECT_TRUE(window->Scenarios()->Error()->isVisibleTo(window.get()));
  EXPECT_NE(window->Scenarios()->Error()->text().indexOf(QStringLiteral(":%1:").arg(bad_line)), -1)
      << window->Scenarios()->Error()->text().toStdString();
  EXPECT_EQ(window->Scenarios()->Text()->HighlightedLine(), bad_line);
  EXPECT_EQ(sites->rowCount(), 0);
  window->SetOutDir(QString::fromStdString(out_));
  EXPECT_FALSE(window->Form().actionBackfill->isEnabled());
  EXPECT_FALSE(window->Form().actionStartLive->isEnabled());
}

// History writes the files; the day page charts one with its planted faults
// marked in the rows; the checks page judges every file as verify does,
// shows a broken one at its problem's line and scores against the truth.
TEST_F(StudioTest, HistoryThenTheDayAndTheChecksOfTheFiles) {
  fs::create_directory(out_);
  auto window = Open();
  OpenScenario(*window, kTwoSites);
  window->Form().actionChooseFolder->trigger();
  ASSERT_EQ(window->OutDir().toStdString(), out_);
  const QDate day(2027, 1, 5);
  EXPECT_TRUE(Backfill(*window, day.addDays(-1), day).startsWith("Done"));
  ASSERT_EQ(DayFilesUnder(out_).size(), 4u);

  window->Scenarios()->SetDay(day);
  window->Scenarios()->SelectSite(0);
  DayView* view = window->Day();
  EXPECT_EQ(view->FilePath().toStdString(), out_ + "/north/270105.tly");
  const PlotData& data = view->Chart()->Data();
  ASSERT_EQ(data.days.size(), 1u);
  EXPECT_EQ(data.doors.size(), 5u);
  EXPECT_EQ(view->Rows()->rowCount(), data.days[0].last_slot + 1);
  const std::vector<TruthEntry>& faults = view->Chart()->Faults();
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_EQ(faults[0].kind, FaultKind::kOutage);
  ASSERT_TRUE(faults[0].first_quarter && faults[0].last_quarter);
  ASSERT_FALSE(faults[0].values.empty());
  const int marked = *faults[0].first_quarter;
  ASSERT_LT(marked, view->Rows()->rowCount());
  EXPECT_NE(view->Rows()->item(marked, 0)->toolTip().indexOf("outage"), -1);
  EXPECT_NE(view->Chart()->FaultsAt(faults[0].values[0].quarter).indexOf("true"), -1);
  if (marked > 0) {
    EXPECT_TRUE(view->Rows()->item(marked - 1, 0)->toolTip().isEmpty());
  }

  // A file cut in the middle of a line.
  const std::string broken = out_ + "/south/270104.tly";
  const std::string bytes = testing::ReadBytes(broken);
  testing::WriteBytes(broken, bytes.substr(0, bytes.size() - 5));
  // A named pipe under a day file's name is reported, never waited for.
  const std::string pipe = out_ + "/south/270106.tly";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  QSignalSpy checked(window->Checks(), &ChecksView::Checked);
  window->Form().actionVerify->trigger();
  ASSERT_TRUE(checked.wait(kDeadlineMs));
  QTableWidget* results = window->Checks()->Results();
  const std::vector<std::string> files = DayFilesUnder(out_);
  ASSERT_EQ(results->rowCount(), static_cast<int>(files.size()));
  int broken_row = -1;
  for (int row = 0; row < results->rowCount(); ++row) {
    const std::string path = out_ + "/" + results->item(row, 0)->text().toStdString();
    if (path == pipe) {
      EXPECT_EQ(results->item(row, 1)->text(), "UNREADABLE");
      continue;
    }
    EXPECT_EQ(results->item(row, 1)->text() == "OK", FirstProblem(path).empty()) << path;
    if (path == broken) broken_row = row;
  }
  ASSERT_GE(broken_row, 0);
  EXPECT_EQ(results->item(broken_row, 1)->text(), "BAD");
  results->cellDoubleClicked(broken_row, 0);
  const std::vector<DayFileFinding> findings =
      CheckReadDayFile(broken, testing::ReadBytes(broken)).checked.findings;
  ASSERT_FALSE(findings.empty());
  EXPECT_GT(findings.front().line, 0);
  EXPECT_EQ(window->Checks()->FileText()->HighlightedLine(), findings.front().line);
  EXPECT_TRUE(window->Checks()->Scores()->toPlainText().startsWith(
      QString::fromStdString("Against " + out_ + "/faults.jsonl:")));
  EXPECT_NE(window->Checks()->Scores()->toPlainText().indexOf("outage"), -1);
}

// A cancelled backfill stops between files: fewer files than asked for,
// each whole and sound, no temporary file and no truth file left.
TEST_F(StudioTest, CancelledHistoryLeavesWholeFilesOnly) {
  fs::create_directory(out_);
  auto window = Open();
  std::string many = "seed = 3\n";
  for (int site = 0; site < 20; ++site) {
    many += "[[site]]\nname = \"s" + std::to_string(site) + "\"\nshop_code = \"" +
            std::to_string(site) + "\"\nprofile = \"transit\"\nvisitors = 5000\n";
  }
  OpenScenario(*window, many);
  window->SetOutDir(QString::fromStdString(out_));
  window->Form().actionBackfill->trigger();
  HistoryDialog* history = window->History();
  ASSERT_NE(history, nullptr);
  history->From()->setDate(QDate(2027, 1, 1));
  history->To()->setDate(QDate(2027, 12, 31));
  QSignalSpy finished(history, &HistoryDialog::Finished);
  QObject::connect(history, &HistoryDialog::Advanced, history, [history](quint64 done, quint64) {
    if (done > 0) history->CancelButton()->click();
  });
  history->StartButton()->click();
  ASSERT_TRUE(finished.wait(kDeadlineMs));
  EXPECT_TRUE(history->Outcome().startsWith("Cancelled")) << history->Outcome().toStdString();
  const std::vector<std::string> files = DayFilesUnder(out_);
  EXPECT_GT(files.size(), 0u);
  EXPECT_LT(files.size(), 20u * 365u);
  for (const std::string& file : files) EXPECT_EQ(FirstProblem(file), "") << file;
  EXPECT_FALSE(AnyTemporaryFileUnder(out_));
  EXPECT_FALSE(fs::exists(out_ + "/faults.jsonl"));
}

// A live run at high speed: the day page follows the files as they are
// saved, Stop saves every site, and every file it leaves is sound.
TEST_F(StudioTest, LiveRunFollowedByTheDayPageAndStoppedWithASave) {
  fs::create_directory(out_);
  auto window = Open();
  OpenScenario(*window, kTwoSites);
  window->SetOutDir(QString::fromStdString(out_));
  const QDate day(2027, 1, 5);
  window->Scenarios()->SetDay(day);
  window->Scenarios()->SelectSite(0);
  window->Live()->StartEdit()->setDateTime(QDateTime(day, QTime(9, 0), QTimeZone::utc()));
  window->Live()->SpeedEdit()->setValue(20000);
  QSignalSpy stopped(window.get(), &StudioWindow::LiveStopped);
  window->Form().actionStartLive->trigger();
  ASSERT_TRUE(window->LiveRunning());
  EXPECT_FALSE(window->Form().actionBackfill->isEnabled());
  // An hour of the site's morning shows in the rows while the run goes on.
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->Day()->Rows()->rowCount() > 48; }, kDeadlineMs));
  window->Form().actionStopLive->trigger();
  ASSERT_TRUE(stopped.wait(kDeadlineMs));
  EXPECT_EQ(stopped.front().front().toString(), "Stopped; every site saved.");
  EXPECT_FALSE(window->LiveRunning());
  const std::vector<std::string> files = DayFilesUnder(out_);
  EXPECT_EQ(files.size(), 2u);
  for (const std::string& file : files) EXPECT_EQ(FirstProblem(file), "") << file;
  EXPECT_FALSE(AnyTemporaryFileUnder(out_));
}

// A live run that ends by itself after midnight finishes the day with its
// faults: their truth is written at once and the day page marks them.
TEST_F(StudioTest, LiveRunOverMidnightWritesTheTruthOfTheDayItFinished) {
  fs::create_directory(out_);
  auto window = Open();
  OpenScenario(*window, kTwoSites);
  window->SetOutDir(QString::fromStdString(out_));
  ASSERT_EQ(RunOneHour(*window, QDateTime(QDate(2027, 1, 4), QTime(23, 30), QTimeZone::utc())),
            "Stopped; every site saved.");
  const std::vector<TruthEntry> truth =
      ParseFaultTruth(testing::ReadBytes(out_ + "/faults.jsonl"), "faults.jsonl");
  ASSERT_EQ(truth.size(), 1u);
  EXPECT_EQ(truth[0].file, "north/270104.tly");
  window->Scenarios()->SetDay(QDate(2027, 1, 4));
  window->Scenarios()->SelectSite(0);
  EXPECT_EQ(window->Day()->Chart()->Faults().size(), 1u);
  EXPECT_TRUE(fs::exists(out_ + "/north/270105.tly"));
}

// A site with a delivery pushes its files during a live run, as the command
// does: the server holds the final file, and the deliveries page shows it.
TEST_F(StudioTest, LiveRunDeliversAndTheDeliveriesPageFollows) {
  fs::create_directory(out_);
  testing::TempDir server_root;
  testing::HttpReceiver receiver(server_root.path());
  auto window = Open();
  OpenScenario(*window, std::string(kTwoSites) + "[site.delivery]\nurl = \"" + receiver.Url() +
                            "\"\nevery_minutes = 15\n");
  window->SetOutDir(QString::fromStdString(out_));
  ASSERT_EQ(RunOneHour(*window, QDateTime(QDate(2027, 1, 5), QTime(9, 0), QTimeZone::utc())),
            "Stopped; every site saved.");
  EXPECT_EQ(testing::ReadBytes(server_root.File("south/270105.tly")),
            testing::ReadBytes(out_ + "/south/270105.tly"));
  EXPECT_FALSE(fs::exists(server_root.File("north")));
  ASSERT_EQ(window->Deliveries()->Sites()->rowCount(), 1);
  EXPECT_EQ(window->Deliveries()->Sites()->item(0, 0)->text(), "south");
}

}  // namespace
}  // namespace tly
