#include "delivery/delivery_url.h"

#include <array>
#include <utility>

namespace tly {
namespace {

constexpr std::array<std::pair<std::string_view, DeliveryProtocol>, 5> kSchemes = {{
    {"ftp://", DeliveryProtocol::kFtp},
    {"ftps://", DeliveryProtocol::kFtps},
    {"sftp://", DeliveryProtocol::kSftp},
    {"http://", DeliveryProtocol::kHttp},
    {"https://", DeliveryProtocol::kHttps},
}};

constexpr std::array<std::string_view, 2> kPlaceholders = {"{site}", "{shop_code}"};

// The authority of `url` (between "//" and the next '/'), as offsets.
std::pair<size_t, size_t> Authority(std::string_view url) {
  const size_t slashes = url.find("//");
  if (slashes == std::string_view::npos) return {0, 0};
  const size_t start = slashes + 2;
  size_t end = url.find('/', start);
  if (end == std::string_view::npos) end = url.size();
  return {start, end};
}

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

}  // namespace

const char* ProtocolName(DeliveryProtocol protocol) {
  switch (protocol) {
    case DeliveryProtocol::kFtp:
      return "ftp";
    case DeliveryProtocol::kFtps:
      return "ftps";
    case DeliveryProtocol::kSftp:
      return "sftp";
    case DeliveryProtocol::kHttp:
      return "http";
    case DeliveryProtocol::kHttps:
      return "https";
  }
  return "";
}

bool IsHttp(DeliveryProtocol protocol) {
  return protocol == DeliveryProtocol::kHttp || protocol == DeliveryProtocol::kHttps;
}

std::optional<DeliveryProtocol> ProtocolOfUrl(std::string_view url) {
  for (const auto& [scheme, protocol] : kSchemes) {
    if (url.substr(0, scheme.size()) == scheme) return protocol;
  }
  return std::nullopt;
}

std::string UrlProblem(std::string_view url) {
  if (!ProtocolOfUrl(url)) {
    return "does not start with ftp://, ftps://, sftp://, http:// or https://";
  }
  for (const char c : url) {
    if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f || c == '"' || c == '\\') {
      return "holds a blank, a control character, a quote or a backslash";
    }
  }
  const auto [start, end] = Authority(url);
  const std::string_view authority = url.substr(start, end - start);
  if (authority.find('@') != std::string_view::npos) {
    return "holds a user (and maybe a password): give the user in \"user\" and the name of a "
           "variable that holds the password in \"password_env\"";
  }
  if (authority.empty() || authority.front() == ':') return "names no host";
  for (size_t open = url.find('{'); open != std::string_view::npos;
       open = url.find('{', open + 1)) {
    bool known = false;
    for (const std::string_view placeholder : kPlaceholders) {
      known = known || url.substr(open, placeholder.size()) == placeholder;
    }
    if (!known) return "holds a '{' that does not start {site} or {shop_code}";
  }
  if (url.find('}') != std::string_view::npos) {
    std::string rest(url);
    for (const std::string_view placeholder : kPlaceholders) ReplaceAll(rest, placeholder, "");
    if (rest.find('}') != std::string::npos) return "holds a '}' that does not end a placeholder";
  }
  return "";
}

std::string RedactUrl(std::string_view url) {
  const auto [start, end] = Authority(url);
  const size_t at = url.substr(0, end).rfind('@');
  if (end == 0 || at == std::string_view::npos || at < start) return std::string(url);
  return std::string(url.substr(0, start)) + "***" + std::string(url.substr(at));
}

std::string ExpandUrl(std::string_view url, std::string_view site, std::string_view shop_code) {
  std::string expanded(url);
  ReplaceAll(expanded, "{site}", site);
  ReplaceAll(expanded, "{shop_code}", shop_code);
  return expanded;
}

RemoteTarget TargetOf(std::string_view url, std::string_view file_name, bool temp_name,
                      std::string_view remote_name) {
  RemoteTarget target;
  if (!url.empty() && url.back() == '/') {
    target.name = remote_name.empty() ? file_name : remote_name;
    target.url = std::string(url) + target.name;
  } else {
    target.url = std::string(url);
    target.name = target.url.substr(target.url.rfind('/') + 1);
  }
  target.upload_url = temp_name ? target.url + ".part" : target.url;
  return target;
}

}  // namespace tly
