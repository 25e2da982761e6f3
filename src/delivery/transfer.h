#ifndef TLY_DELIVERY_TRANSFER_H_
#define TLY_DELIVERY_TRANSFER_H_

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "delivery/delivery_settings.h"
#include "delivery/delivery_url.h"

// One upload of one file to a server, over libcurl. A Transfer keeps its
// connection open from one upload to the next, so a device that pushes a
// backlog logs in once; it holds at most one connection.

namespace tly {

// What one upload sends, and how.
struct Upload {
  const DeliverySettings* settings = nullptr;
  RemoteTarget target;
  std::string password;  // "" for none
  std::string_view bytes;
  std::optional<uint64_t> cut_after;         // stop after this many bytes, as a dropped line does
  const std::atomic<bool>* abort = nullptr;  // when it turns true the upload is given up
};

enum class UploadOutcome { kOk, kFailed, kCut };

struct UploadResult {
  UploadOutcome outcome = UploadOutcome::kFailed;
  uint64_t bytes_sent = 0;
  std::string error;  // in words, without any password; "" when it went well
};

class Transfer {
 public:
  Transfer();
  ~Transfer();
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  // Uploads `upload.bytes` to `upload.target.upload_url` and, when that is a
  // temporary name, renames it to the target's name (FTP RNFR/RNTO, SFTP
  // rename); a POST sends the file as a multipart form under its name. Never
  // throws for a failure of the server or the network.
  UploadResult Send(const Upload& upload);

 private:
  void* handle_;  // CURL*
};

// Makes libcurl ready for threads; call once before any Transfer.
void InitTransfers();

}  // namespace tly

#endif  // TLY_DELIVERY_TRANSFER_H_
