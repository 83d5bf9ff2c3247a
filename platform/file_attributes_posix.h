// Permissions, owner, access lists and other extended attributes of the
// output file (POSIX only). Each is applied as far as the file system can
// hold it: one that cannot store a mode or an owner at all (FAT through FUSE
// answers ENOSYS) does not make the output fail.
#ifndef LUMENTRACE_PLATFORM_FILE_ATTRIBUTES_POSIX_H_
#define LUMENTRACE_PLATFORM_FILE_ATTRIBUTES_POSIX_H_

#include <sys/stat.h>
#include <sys/types.h>

// Gives `file`, created private, exactly the permissions a plain create with
// `createMode` in `folder` would have given: the folder's default access list
// where it has one, the umask otherwise. False when the file system refused
// for another reason than not holding permissions.
bool ApplyNewFileMode(int folder, int file, mode_t createMode);

// Gives `file` the owner (where the user may), the mode, the access list and
// the other extended attributes of `original`, the file it is to replace
// (`target` is an O_PATH descriptor of it). False when something the original
// has could not be carried over; the caller then rewrites the original in
// place instead of replacing it.
bool CarryFileAttributes(int target, const struct stat& original, int file);

#endif  // LUMENTRACE_PLATFORM_FILE_ATTRIBUTES_POSIX_H_
