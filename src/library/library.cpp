// SPDX-License-Identifier: MIT
// The shared library is assembled from the module archives; this unit only gives it a body.
namespace zambrel {
const char* LibraryVersion() { return "0.1.0"; }
}  // namespace zambrel
