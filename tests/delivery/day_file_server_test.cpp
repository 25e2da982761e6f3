// The server of polled devices, asked by a real HTTP client on 127.0.0.1:
// each change of a file is received once, and nothing outside the output
// directory is ever served.

#include "delivery/day_file_server.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>
#include <thread>

#include "testutil/temp_dir.h"

namespace tly {
namespace {

using testing::TempDir;
using testing::WriteBytes;

class Served {
 public:
  Served(const std::string& out, const std::string& user = "", const std::string& password = "")
      : server_(DayFileServerOptions{out, "127.0.0.1", 0, user, password, "", "", 4}),
        thread_([this] { server_.Run(); }),
        client_("127.0.0.1", server_.port()) {}
  ~Served() {
    server_.Stop();
    thread_.join();
  }
  httplib::Client& client() { return client_; }

 private:
  DayFileServer server_;
  std::thread thread_;
  httplib::Client client_;
};

TEST(DayFileServer, APollerGetsEachChangeOnceAndParts) {
  TempDir dir;
  std::filesystem::create_directories(dir.File("north"));
  WriteBytes(dir.File("north/270308.tly"), "first version\r\n");
  WriteBytes(dir.File("north/270309.tly"), "day two\r\n");
  WriteBytes(dir.File("north/270309.tmp"), "half");
  Served served(dir.path());
  httplib::Client& client = served.client();

  const auto listing = client.Get("/north/");
  ASSERT_TRUE(listing);
  EXPECT_EQ(listing->body, "270308.tly\n270309.tly\n");

  const auto first = client.Get("/north/270308.tly");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->status, 200);
  EXPECT_EQ(first->body, "first version\r\n");
  EXPECT_TRUE(first->has_header("Last-Modified"));
  const std::string etag = first->get_header_value("ETag");
  const httplib::Headers asked = {{"If-None-Match", etag}};
  EXPECT_EQ(client.Get("/north/270308.tly", asked)->status, 304);

  // Replaced as the generator replaces files: the next poll gets it, once.
  WriteBytes(dir.File("north/new.tmp"), "second version\r\n");
  std::filesystem::rename(dir.File("north/new.tmp"), dir.File("north/270308.tly"));
  const auto changed = client.Get("/north/270308.tly", asked);
  EXPECT_EQ(changed->status, 200);
  EXPECT_EQ(changed->body, "second version\r\n");
  EXPECT_EQ(client.Get("/north/270308.tly", {{"If-None-Match", changed->get_header_value("ETag")}})
                ->status,
            304);

  const auto part = client.Get("/north/270308.tly", {{"Range", "bytes=7-13"}});
  EXPECT_EQ(part->status, 206);
  EXPECT_EQ(part->body, "version");
}

TEST(DayFileServer, NothingOutsideTheDirectoryNorALinkNorAStrangerIsServed) {
  TempDir outside;
  WriteBytes(outside.File("secret.tly"), "secret");
  std::filesystem::create_directories(outside.File("270101"));
  TempDir dir;
  std::filesystem::create_directories(dir.File("north"));
  WriteBytes(dir.File("north/270308.tly"), "ok\r\n");
  std::filesystem::create_symlink(outside.File("secret.tly"), dir.File("north/270309.tly"));
  std::filesystem::create_symlink(outside.path(), dir.File("away"));
  {
    Served served(dir.path());
    for (const char* path : {"/north/270309.tly", "/away/", "/away/secret.tly", "/../secret.tly",
                             "/north/..%2F..%2Fsecret.tly", "/north/270308.tmp", "/north"}) {
      const auto answer = served.client().Get(path);
      ASSERT_TRUE(answer) << path;
      EXPECT_EQ(answer->status, 404) << path;
      EXPECT_EQ(answer->body.find("secret"), std::string::npos) << path;
    }
    EXPECT_EQ(served.client().Get("/north/")->body, "270308.tly\n") << "links are not listed";
  }
  Served guarded(dir.path(), "poller", "pw");
  EXPECT_EQ(guarded.client().Get("/north/270308.tly")->status, 401);
  guarded.client().set_basic_auth("poller", "pw");
  EXPECT_EQ(guarded.client().Get("/north/270308.tly")->status, 200);
}

}  // namespace
}  // namespace tly
