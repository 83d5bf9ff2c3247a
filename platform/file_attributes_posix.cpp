#include "platform/file_attributes_posix.h"

#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/path_walk_posix.h"

namespace {

constexpr char kAccessList[] = "system.posix_acl_access";
constexpr char kDefaultList[] = "system.posix_acl_default";

// The kernel's stored form of an access list: a 4-byte version, then entries
// of a 2-byte tag, 2-byte permission bits and 4-byte id, little-endian.
constexpr size_t kListHeader = 4;
constexpr size_t kListEntry = 8;
constexpr std::uint16_t kTagUserObj = 0x01;
constexpr std::uint16_t kTagGroupObj = 0x04;
constexpr std::uint16_t kTagMask = 0x10;
constexpr std::uint16_t kTagOther = 0x20;

// Errors that say the file system cannot hold what was asked, not that it
// was refused: such a request is skipped.
bool NotHeldHere(int error) {
  return error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP || error == EPERM;
}

bool ReadAttribute(const std::string& path, const char* name, std::string& value) {
  for (;;) {
    const ssize_t size = getxattr(path.c_str(), name, nullptr, 0);
    if (size < 0) return false;
    value.assign(static_cast<size_t>(size), '\0');
    const ssize_t got = getxattr(path.c_str(), name, &value[0], value.size());
    if (got >= 0) {
      value.resize(static_cast<size_t>(got));
      return true;
    }
    if (errno != ERANGE) return false;  // grew meanwhile: ask again
  }
}

bool ReadOwnAttribute(int file, const char* name, std::string& value) {
  const ssize_t size = fgetxattr(file, name, nullptr, 0);
  if (size < 0) return false;
  value.assign(static_cast<size_t>(size), '\0');
  const ssize_t got = fgetxattr(file, name, &value[0], value.size());
  if (got < 0) return false;
  value.resize(static_cast<size_t>(got));
  return true;
}

std::uint16_t Read16(const std::string& bytes, size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                    static_cast<unsigned char>(bytes[at + 1]) << 8);
}

void Write16(std::string& bytes, size_t at, std::uint16_t value) {
  bytes[at] = static_cast<char>(value & 0xFF);
  bytes[at + 1] = static_cast<char>(value >> 8);
}

// The access list a new file gets from a folder's default list: the owner,
// the mask (or the owning group when there is no mask) and others keep only
// the rights the create mode grants them.
bool AccessListFromDefault(std::string list, mode_t createMode, std::string& access) {
  if (list.size() < kListHeader || (list.size() - kListHeader) % kListEntry != 0) return false;
  bool hasMask = false;
  for (size_t at = kListHeader; at < list.size(); at += kListEntry) {
    if (Read16(list, at) == kTagMask) hasMask = true;
  }
  for (size_t at = kListHeader; at < list.size(); at += kListEntry) {
    const std::uint16_t tag = Read16(list, at);
    unsigned shift = 99;
    if (tag == kTagUserObj) shift = 6;
    if (tag == kTagMask || (tag == kTagGroupObj && !hasMask)) shift = 3;
    if (tag == kTagOther) shift = 0;
    if (shift == 99) continue;
    const auto allowed = static_cast<std::uint16_t>((createMode >> shift) & 7);
    Write16(list, at + 2, static_cast<std::uint16_t>(Read16(list, at + 2) & allowed));
  }
  access = std::move(list);
  return true;
}

mode_t CurrentUmask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

bool ChangeMode(int file, mode_t mode) {
  return fchmod(file, mode) == 0 || NotHeldHere(errno);
}

}  // namespace

bool ApplyNewFileMode(int folder, int file, mode_t createMode) {
  std::string list;
  std::string access;
  if (ProcFdAvailable() && ReadAttribute(ProcFdPath(folder), kDefaultList, list) &&
      AccessListFromDefault(list, createMode, access)) {
    // The file was created private and so may hold an access list derived
    // from the default one already; this one replaces it, mode bits included.
    if (fsetxattr(file, kAccessList, access.data(), access.size(), 0) == 0) return true;
    if (!NotHeldHere(errno)) return false;
  }
  return ChangeMode(file, createMode & ~CurrentUmask());
}

bool CarryFileAttributes(int target, const struct stat& original, int file) {
  // Owner first: changing it clears the set-id bits that the mode restores.
  // Only root may give a file away; an ordinary user's output stays theirs.
  if (fchown(file, original.st_uid, original.st_gid) != 0) {
  }
  if (!ProcFdAvailable()) return ChangeMode(file, original.st_mode & 07777);
  const std::string path = ProcFdPath(target);
  std::string names(1024, '\0');
  ssize_t size = -1;
  for (;;) {
    size = listxattr(path.c_str(), &names[0], names.size());
    if (size >= 0 || errno != ERANGE) break;
    names.resize(names.size() * 4);
  }
  if (size < 0) {
    if (!NotHeldHere(errno)) return false;
    size = 0;
  }
  names.resize(static_cast<size_t>(size));
  // An access list the new file inherited from the folder but the original
  // does not have would change who may read it.
  std::string value;
  if (names.find(std::string(kAccessList) + '\0') == std::string::npos &&
      ReadOwnAttribute(file, kAccessList, value) && fremovexattr(file, kAccessList) != 0) {
    return false;
  }
  if (!ChangeMode(file, original.st_mode & 07777)) return false;
  for (size_t at = 0; at < names.size();) {
    const std::string name = names.c_str() + at;
    at += name.size() + 1;
    if (name.empty()) continue;
    if (!ReadAttribute(path, name.c_str(), value)) {
      if (errno == ENODATA) continue;  // removed meanwhile
      return false;
    }
    std::string present;
    if (ReadOwnAttribute(file, name.c_str(), present) && present == value) continue;
    if (fsetxattr(file, name.c_str(), value.data(), value.size(), 0) != 0) return false;
  }
  return true;
}
