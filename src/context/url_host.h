// The host part of a URL, for the context's classification and identifiers.
//
// Browser URLs arrive as plain text from the accessibility probe; the context model only
// needs their host ("docs.example.com"), never a full parse. `urlHost` accepts
// scheme://[userinfo@]host[:port][/?#...], keeps IPv6 literals in their brackets, and
// lower-cases the host as URL parsers do. Anything that is not such a URL gives the
// empty string. Pure function, any queue.
#pragma once

#include <string>
#include <string_view>

namespace sorvane {

std::string urlHost(std::string_view url);

}  // namespace sorvane
