#ifndef TLY_DELIVERY_DELIVERY_SETTINGS_H_
#define TLY_DELIVERY_DELIVERY_SETTINGS_H_

#include <string>

// How a site's device pushes its day files to a server: the [delivery] table
// of a scenario file (defaults for every site) and a site's own
// [site.delivery], which overrides it key by key.

namespace tly {

enum class DeliveryProtocol { kFtp, kFtps, kSftp, kHttp, kHttps };

enum class HttpMethod { kPut, kPost };

struct DeliverySettings {
  // Where the files go: ftp://, ftps://, sftp://, http:// or https://, with
  // {site} and {shop_code} to be expanded. Ending in '/': a folder, the file
  // goes under its own name; else the name of the file on the server.
  std::string url;
  DeliveryProtocol protocol = DeliveryProtocol::kFtp;
  int every_minutes = 15;  // pushes aligned to the site's local midnight
  HttpMethod method = HttpMethod::kPut;
  std::string user;
  std::string password_env;  // the variable that holds the password; never the password
  std::string ca_file;       // certificates to trust for ftps:// and https://
  std::string key_file;      // sftp://: the private key to log in with
  std::string known_hosts;   // sftp://: the host keys to trust (default ~/.ssh/known_hosts)
  bool insecure = false;     // trust any certificate or host key (test servers)
  bool temp_name = true;     // FTP and SFTP: upload as NAME.part, then rename to NAME
  int retry_minutes = 10;    // how long a push is retried before its file waits in the spool
};

// The name of `protocol` as a url starts with ("ftp", ..., "https").
const char* ProtocolName(DeliveryProtocol protocol);

// http:// or https://.
bool IsHttp(DeliveryProtocol protocol);

}  // namespace tly

#endif  // TLY_DELIVERY_DELIVERY_SETTINGS_H_
