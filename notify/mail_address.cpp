#include "notify/mail_address.h"

#include <cstring>

namespace raid {

namespace {

bool Alnum(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// The characters of an atom besides letters and digits.
bool AtomChar(char c) { return Alnum(c) || (c != '\0' && std::strchr("!#$%&'*+-/=?^_`{|}~", c) != nullptr); }

std::string LocalPartError(const std::string& l) {
  if (l.empty()) return "nothing before the \"@\"";
  if (l.size() > 64) return "more than 64 characters before the \"@\"";
  if (l.front() == '"') {
    if (l.size() < 2 || l.back() != '"') return "the quoted part before the \"@\" is not closed";
    for (size_t i = 1; i + 1 < l.size(); ++i) {
      const auto c = static_cast<unsigned char>(l[i]);
      if (c == '\\') {
        ++i;
        if (i + 1 >= l.size() || static_cast<unsigned char>(l[i]) < 32 || static_cast<unsigned char>(l[i]) > 126)
          return "a backslash in the quoted part is not followed by a character";
      } else if (c == '"') {
        return "a quote inside the quoted part before the \"@\"";
      } else if (c < 32 || c > 126) {
        return "a control character in the quoted part before the \"@\"";
      }
    }
    return {};
  }
  if (l.front() == '.' || l.back() == '.' || l.find("..") != std::string::npos)
    return "a dot at the start or end of the part before the \"@\", or two dots in a row";
  for (const char c : l) {
    if (c == '.' || AtomChar(c)) continue;
    if (c == ' ') return "a blank in the part before the \"@\" (it may only stand inside quotes)";
    return std::string("the character '") + c + "' in the part before the \"@\" (it may only stand inside quotes)";
  }
  return {};
}

bool Ipv4(const std::string& s) {
  int parts = 0;
  size_t i = 0;
  while (true) {
    size_t digits = 0;
    int value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9' && digits < 4; ++i, ++digits) value = value * 10 + (s[i] - '0');
    if (digits == 0 || digits > 3 || value > 255) return false;
    if (++parts == 4) return i == s.size();
    if (i >= s.size() || s[i++] != '.') return false;
  }
}

bool Ipv6(const std::string& s) {
  if (s.empty() || s.size() > 45) return false;
  size_t colons = 0;
  for (const char c : s) {
    if (c == ':')
      ++colons;
    else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == '.'))
      return false;
  }
  return colons >= 2 && colons <= 7 && s.find(":::") == std::string::npos;
}

std::string DomainError(const std::string& d) {
  if (d.empty()) return "nothing after the \"@\"";
  if (d.size() > 255) return "more than 255 characters after the \"@\"";
  if (d.front() == '[') {
    if (d.back() != ']') return "the address literal after the \"@\" is not closed by \"]\"";
    const std::string inner = d.substr(1, d.size() - 2);
    if (Ipv4(inner)) return {};
    if (inner.rfind("IPv6:", 0) == 0 && Ipv6(inner.substr(5))) return {};
    return "\"" + d + "\" is no IPv4 address or [IPv6:...] address";
  }
  size_t start = 0;
  while (true) {
    const size_t dot = d.find('.', start);
    const std::string label = d.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (label.empty()) return "an empty name between dots after the \"@\"";
    if (label.size() > 63) return "a name of more than 63 characters after the \"@\"";
    if (label.front() == '-' || label.back() == '-') return "a name after the \"@\" starts or ends with a hyphen";
    for (const char c : label)
      if (!Alnum(c) && c != '-')
        return std::string("the character '") + c + "' after the \"@\" (a host name has letters, digits, hyphens)";
    if (dot == std::string::npos) return {};
    start = dot + 1;
  }
}

}  // namespace

std::string MailboxSyntaxError(const std::string& a) {
  if (a.empty()) return "the address is empty";
  for (const char c : a) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x80) return "only plain ASCII addresses can be sent to";
    if (u < 0x20 || u == 0x7F) return "a control character in the address";
  }
  if (a.size() > 254) return "longer than 254 characters";
  const size_t at = a.rfind('@');
  if (at == std::string::npos) return "no \"@\"";
  if (a.front() == '<' || a.back() == '>') return "give the address without angle brackets";
  if (const std::string e = LocalPartError(a.substr(0, at)); !e.empty()) return e;
  return DomainError(a.substr(at + 1));
}

bool SameMailbox(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::vector<std::string> DistinctMailboxes(const std::vector<std::string>& list) {
  std::vector<std::string> out;
  for (const std::string& a : list) {
    bool seen = false;
    for (const std::string& b : out) seen = seen || SameMailbox(a, b);
    if (!seen) out.push_back(a);
  }
  return out;
}

}  // namespace raid
