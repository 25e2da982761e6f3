#ifndef TLY_DELIVERY_DELIVERY_URL_H_
#define TLY_DELIVERY_DELIVERY_URL_H_

#include <optional>
#include <string>
#include <string_view>

#include "delivery/delivery_settings.h"

// The urls of delivery: their check, their expansion for a site, the names a
// file is uploaded under, and the form in which they are shown.

namespace tly {

// The protocol `url` starts with, or none for another scheme.
std::optional<DeliveryProtocol> ProtocolOfUrl(std::string_view url);

// Why `url` cannot be a delivery url, in words, or "" when it can: a known
// scheme, a host, no user info (the user and the password have keys of their
// own), no blank or control character, and only {site} and {shop_code} in
// braces.
std::string UrlProblem(std::string_view url);

// `url` with anything between "//" and an '@' of its authority replaced by
// "***", so that a password typed into a url is never shown.
std::string RedactUrl(std::string_view url);

// `url` with {site} and {shop_code} replaced.
std::string ExpandUrl(std::string_view url, std::string_view site, std::string_view shop_code);

// Where one file goes: the url it ends under, the url it is uploaded to
// first (the same, or with ".part" appended for a careful device), and its
// name on the server.
struct RemoteTarget {
  std::string url;
  std::string upload_url;
  std::string name;
};

// The target of the file `file_name` for the expanded url `url`: a url that
// ends in '/' is a folder that takes the file under its own name, or under
// `remote_name` when one is given (a device's retry name); another url
// names the file itself.
RemoteTarget TargetOf(std::string_view url, std::string_view file_name, bool temp_name,
                      std::string_view remote_name = {});

}  // namespace tly

#endif  // TLY_DELIVERY_DELIVERY_URL_H_
