#include "delivery/transfer.h"

#include <curl/curl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace tly {
namespace {

// What the read callback hands to libcurl.
struct Source {
  std::string_view bytes;
  uint64_t sent = 0;
  std::optional<uint64_t> cut_after;
  bool cut = false;
};

size_t ReadSource(char* buffer, size_t size, size_t count, void* data) {
  Source& source = *static_cast<Source*>(data);
  uint64_t end = source.bytes.size();
  if (source.cut_after && *source.cut_after < end) end = *source.cut_after;
  if (source.sent >= end && end < source.bytes.size()) {
    source.cut = true;
    return CURL_READFUNC_ABORT;
  }
  const size_t n = static_cast<size_t>(std::min<uint64_t>(size * count, end - source.sent));
  std::memcpy(buffer, source.bytes.data() + source.sent, n);
  source.sent += n;
  return n;
}

size_t Discard(char*, size_t size, size_t count, void*) {
  return size * count;
}

int AbortWhenAsked(void* flag, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<const std::atomic<bool>*>(flag)->load() ? 1 : 0;
}

// curl_slist owned for the length of one request.
class Lines {
 public:
  ~Lines() { curl_slist_free_all(list_); }
  void Add(const std::string& line) { list_ = curl_slist_append(list_, line.c_str()); }
  curl_slist* get() const { return list_; }

 private:
  curl_slist* list_ = nullptr;
};

// The decoded path of `url` ("/up/site/261207.tly").
std::string PathOf(const std::string& url) {
  CURLU* parsed = curl_url();
  std::string path;
  char* part = nullptr;
  if (curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
      curl_url_get(parsed, CURLUPART_PATH, &part, CURLU_URLDECODE) == CURLUE_OK) {
    path = part;
  }
  curl_free(part);
  curl_url_cleanup(parsed);
  return path;
}

// The options every request of `upload` shares: who, how safely, how long.
void SetCommon(CURL* curl, const Upload& upload, char* error) {
  const DeliverySettings& settings = *upload.settings;
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp,ftps,sftp,http,https");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXCONNECTS, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 10L);
  // A server that stops taking bytes is given up after 30 s.
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 30L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
  if (upload.abort != nullptr) {
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, AbortWhenAsked);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, upload.abort);
  }
  if (!settings.user.empty()) curl_easy_setopt(curl, CURLOPT_USERNAME, settings.user.c_str());
  if (!upload.password.empty()) curl_easy_setopt(curl, CURLOPT_PASSWORD, upload.password.c_str());
  if (!settings.ca_file.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, settings.ca_file.c_str());
  if (settings.insecure) {
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
  }
  if (settings.protocol == DeliveryProtocol::kSftp) {
    if (!settings.key_file.empty()) {
      curl_easy_setopt(curl, CURLOPT_SSH_PRIVATE_KEYFILE, settings.key_file.c_str());
      const std::string public_key = settings.key_file + ".pub";
      if (::access(public_key.c_str(), R_OK) == 0) {
        curl_easy_setopt(curl, CURLOPT_SSH_PUBLIC_KEYFILE, public_key.c_str());
      }
    }
    // Without a list of known host keys libcurl would trust any server.
    std::string known = settings.known_hosts;
    const char* home = std::getenv("HOME");
    if (known.empty() && home != nullptr) known = std::string(home) + "/.ssh/known_hosts";
    if (!settings.insecure) curl_easy_setopt(curl, CURLOPT_SSH_KNOWNHOSTS, known.c_str());
  }
  if (!IsHttp(settings.protocol)) {
    curl_easy_setopt(curl, CURLOPT_FTP_CREATE_MISSING_DIRS,
                     static_cast<long>(CURLFTP_CREATE_DIR_RETRY));
  }
}

std::string ErrorOf(CURLcode code, const char* buffer) {
  return *buffer != '\0' ? std::string(buffer) : std::string(curl_easy_strerror(code));
}

// The HTTP status as an error, or "" for 2xx.
std::string StatusProblem(CURL* curl) {
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  if (status >= 200 && status < 300) return "";
  return "the server answered HTTP " + std::to_string(status);
}

// The body of the request: a multipart form field "file" for HTTP POST,
// otherwise the bytes as the upload itself, both read from `source`. The
// form, when there is one, is the caller's to free after the request.
curl_mime* SetBody(CURL* curl, const Upload& upload, bool post, Source& source) {
  if (!post) {
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadSource);
    curl_easy_setopt(curl, CURLOPT_READDATA, &source);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(upload.bytes.size()));
    return nullptr;
  }
  curl_mime* form = curl_mime_init(curl);
  curl_mimepart* part = curl_mime_addpart(form);
  curl_mime_name(part, "file");
  curl_mime_filename(part, upload.target.name.c_str());
  curl_mime_type(part, "application/octet-stream");
  curl_mime_data_cb(part, static_cast<curl_off_t>(upload.bytes.size()), ReadSource, nullptr,
                    nullptr, &source);
  curl_easy_setopt(curl, CURLOPT_MIMEPOST, form);
  return form;
}

// The commands that put a file uploaded under its ".part" name in its place
// once all its bytes are there, kept in `after` for the length of the request.
void SetRename(CURL* curl, const Upload& upload, Lines& after) {
  if (upload.settings->protocol == DeliveryProtocol::kSftp) {
    const std::string path = PathOf(upload.target.url);
    // An SFTP rename does not replace: the old file goes first ('*': it may
    // not be there).
    after.Add("*rm \"" + path + "\"");
    after.Add("rename \"" + path + ".part\" \"" + path + "\"");
  } else {
    after.Add("RNFR " + upload.target.name + ".part");
    after.Add("RNTO " + upload.target.name);
  }
  curl_easy_setopt(curl, CURLOPT_POSTQUOTE, after.get());
}

// What became of a finished request: cut by `source`, failed in libcurl
// (`code`, `error`), refused by an HTTP status, or done.
UploadResult ResultOf(CURL* curl, CURLcode code, const char* error, const Source& source,
                      bool http) {
  UploadResult result;
  result.bytes_sent = source.sent;
  if (source.cut) {
    result.outcome = UploadOutcome::kCut;
    result.error = "cut after " + std::to_string(source.sent) + " bytes";
    return result;
  }
  if (code != CURLE_OK) {
    result.error = ErrorOf(code, error);
    return result;
  }
  if (http) result.error = StatusProblem(curl);
  result.outcome = result.error.empty() ? UploadOutcome::kOk : UploadOutcome::kFailed;
  return result;
}

}  // namespace

void InitTransfers() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

Transfer::Transfer() : handle_(nullptr) {
  InitTransfers();
  handle_ = curl_easy_init();
}

Transfer::~Transfer() {
  curl_easy_cleanup(static_cast<CURL*>(handle_));
}

UploadResult Transfer::Send(const Upload& upload) {
  CURL* curl = static_cast<CURL*>(handle_);
  const DeliverySettings& settings = *upload.settings;
  const bool http = IsHttp(settings.protocol);
  const bool post = http && settings.method == HttpMethod::kPost;
  const bool renames = upload.target.upload_url != upload.target.url && !http;
  char error[CURL_ERROR_SIZE] = "";
  Source source{upload.bytes, 0, upload.cut_after, false};
  Lines after;
  Lines headers;
  // No wait for a "100 Continue" that some servers never send.
  headers.Add("Expect:");

  curl_easy_reset(curl);
  SetCommon(curl, upload, error);
  curl_easy_setopt(curl, CURLOPT_URL,
                   (post ? upload.target.url : upload.target.upload_url).c_str());
  if (http) curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
  curl_mime* form = SetBody(curl, upload, post, source);
  if (renames) SetRename(curl, upload, after);
  const CURLcode code = curl_easy_perform(curl);
  if (form != nullptr) curl_mime_free(form);
  return ResultOf(curl, code, error, source, http);
}

}  // namespace tly
