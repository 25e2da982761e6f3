// Delivery of a backfill to a local FTP server (pyftpdlib on 127.0.0.1): a
// hundred sites' thirty days as the devices send them (temporary name, then
// rename) against libcurl uploading the same files, one after the other,
// over one reused connection.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "backfill/scenario_backfill.h"
#include "bench_rounds.h"
#include "bench_temp_dir.h"
#include "delivery/history_delivery.h"
#include "delivery/test_servers.h"
#include "scenario/scenario_file.h"
#include "support/file_read.h"

namespace {

constexpr int kSites = 100;

// The backfill to deliver and the server that takes it, made once.
struct Setup {
  Setup() : out(dir.path() + "/out"), root(dir.path() + "/server") {
    std::filesystem::create_directories(out);
    std::filesystem::create_directories(root);
    std::string text = "seed = 1\n";
    for (int i = 0; i < kSites; ++i) {
      text += "[[site]]\nname = \"s" + std::to_string(i) + "\"\nshop_code = \"" +
              std::to_string(i) + "\"\n";
    }
    scenario = tly::ParseScenario(text, "bench.toml");
    tly::ScenarioBackfillRequest request;
    request.scenario = &scenario;
    request.out_dir = out;
    request.from = {2027, 4, 1};
    request.to = {2027, 4, 30};
    request.seed = 1;
    request.jobs = 2;
    tly::ScenarioBackfill(request);
    server = std::make_unique<tly::testing::FtpServer>(root);
    settings.url = server->Url();
    settings.user = "anonymous";
  }

  tly::bench::BenchTempDir dir;
  std::string out;
  std::string root;
  tly::Scenario scenario;
  std::unique_ptr<tly::testing::FtpServer> server;
  tly::DeliverySettings settings;
};

Setup& TheSetup() {
  static Setup setup;
  return setup;
}

void DeliveryOurs(benchmark::State& state) {
  Setup& setup = TheSetup();
  if (!setup.server->up()) {
    state.SkipWithError(setup.server->why().c_str());
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(setup.out + "/deliveries.jsonl");
    tly::HistoryDeliveryRequest request;
    request.out_dir = setup.out;
    for (const tly::SiteSettings& site : setup.scenario.sites) {
      request.sites.push_back({site.name, site.shop_code, setup.settings});
      request.pushes.push_back(tly::FinalDayFilePushes(setup.out + "/" + site.name, {}, {}));
    }
    state.ResumeTiming();
    const tly::HistoryDeliveryResult result = tly::DeliverHistory(request);
    if (result.delivered != kSites * 30u) state.SkipWithError("not every file was delivered");
  }
}

size_t ReadFromView(char* buffer, size_t size, size_t count, void* data) {
  std::string_view& rest = *static_cast<std::string_view*>(data);
  const size_t n = std::min(size * count, rest.size());
  std::memcpy(buffer, rest.data(), n);
  rest.remove_prefix(n);
  return n;
}

void DeliveryReference(benchmark::State& state) {
  Setup& setup = TheSetup();
  if (!setup.server->up()) {
    state.SkipWithError(setup.server->why().c_str());
    return;
  }
  const std::string base = setup.settings.url.substr(0, setup.settings.url.find("{site}"));
  for (auto _ : state) {
    CURL* curl = curl_easy_init();
    for (const tly::SiteSettings& site : setup.scenario.sites) {
      for (const tly::DeliveryPush& push :
           tly::FinalDayFilePushes(setup.out + "/" + site.name, {}, {})) {
        const std::string bytes =
            *tly::ReadWholeFile(setup.out + "/" + site.name + "/" + push.file_name);
        std::string_view rest = bytes;
        const std::string url = base + "reference-" + site.name + "/" + push.file_name;
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curl, CURLOPT_USERNAME, "anonymous");
        curl_easy_setopt(curl, CURLOPT_FTP_CREATE_MISSING_DIRS,
                         static_cast<long>(CURLFTP_CREATE_DIR_RETRY));
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadFromView);
        curl_easy_setopt(curl, CURLOPT_READDATA, &rest);
        curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(bytes.size()));
        if (curl_easy_perform(curl) != CURLE_OK) state.SkipWithError("an upload failed");
      }
    }
    curl_easy_cleanup(curl);
  }
}

const bool registered = [] {
  tly::bench::RegisterInRounds(3,
                               {{"deliver_ftp_100x30/ours", DeliveryOurs},
                                {"deliver_ftp_100x30/reference", DeliveryReference}},
                               [](benchmark::internal::Benchmark* b) {
                                 b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
                               });
  return true;
}();

}  // namespace
