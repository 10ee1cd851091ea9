// Whether a text is a mailbox the program can send to: local-part "@"
// domain, as SMTP's envelope takes it (RFC 5321 "Mailbox"), in ASCII.
//   local-part  dot-atom ("ops", "first.last+tag") or a quoted string
//               ("\"john doe\""), at most 64 bytes
//   domain      host name labels of letters, digits and inner hyphens
//               ("mail.example.com", "localhost"), or an address literal
//               ("[192.0.2.1]", "[IPv6:2001:db8::1]"), at most 255 bytes
// The whole address has at most 254 bytes. Checked when an address is added
// to the list and again when a mail goes out, so an address stored before
// (or typed into the settings file) can never break a whole mail.
#pragma once

#include <string>
#include <vector>

namespace raid {

// Empty when address is a mailbox; else why not, for the user.
std::string MailboxSyntaxError(const std::string& address);

// Whether two addresses name the same mailbox for the recipient list (ASCII
// letters compared without case, as mail servers take them).
bool SameMailbox(const std::string& a, const std::string& b);

// The list without its repeated mailboxes, the first of each kept in place.
std::vector<std::string> DistinctMailboxes(const std::vector<std::string>& list);

}  // namespace raid
