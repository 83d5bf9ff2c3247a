// The web page has no folders to list: every listing fails, as a folder that
// cannot be opened does.
#include "platform/directory_listing.h"

bool ListDirectory(WideView, DirectoryListing& listing) {
  listing = DirectoryListing();
  return false;
}
