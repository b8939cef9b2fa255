// The simple client: one GET on a fresh connection, HTTP/1.0, no cookies, no redirect following, and any HTTP
// status counts as an answer. Used for contact pages and for the remote configuration.
#pragma once

#include <string>
#include <vector>

#include "net/PageBudget.h"

namespace vexo {

// Contact-page fetch (Firefox user agent, 90000 ms per wait). On success the body's lines replace the list's
// content (split as the page-text decoding splits them) and true is returned; on connection failure or time-out
// false, and the list is left as it was.
bool SimpleGet(const std::string& url, std::vector<std::string>& lines);

// Contact-page fetch as SimpleGet, giving the page text straight away: the same as decoding (leniently) the lines
// SimpleGet gives joined with CR LF, without making the list of lines, which costs tens of bytes for each line of
// the body. The lease receives the body's share of the page budget, to be held while the text is in use. On
// failure false, and the text and lease are left as they were.
bool SimpleGetText(const std::string& url, std::string& text, TPageLease& lease);

// Remote-configuration fetch (its own user agent, 5000 ms per wait). On success the stream holds exactly the
// body from its start; on failure false, and the stream is left as it was.
bool SimpleGetStream(const std::string& url, std::string& stream);

}  // namespace vexo
