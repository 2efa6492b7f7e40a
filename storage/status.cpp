#include "storage/status.h"

#include <cstdio>
#include <cstdlib>

const char* CStatus::WordsFor(Kind kind) {
  switch (kind) {
    case Kind::Ok: return "no error";
    case Kind::System: return "system error";
    case Kind::Failed: return "failed";
    case Kind::CannotOpen: return "cannot open file";
    case Kind::TooShort: return "too short to be a BIG archive";
    case Kind::TooLarge: return "too large for a BIG archive (2 GiB or more)";
    case Kind::BadMagic: return "not a BIG archive";
    case Kind::SizeMismatch: return "size field does not match the file";
    case Kind::BadCount: return "bad entry count";
    case Kind::BadHeaderSize: return "bad header size";
    case Kind::IndexPastEnd: return "index does not fit in the file";
    case Kind::RecordsOverrun: return "index records do not fit in the index";
    case Kind::OutOfMemory: return "not enough memory for its index";
    case Kind::CannotRead: return "cannot read file";
    case Kind::EmptyName: return "empty name";
    case Kind::AbsoluteName: return "name starts with a separator";
    case Kind::EmptySegment: return "name has an empty part";
    case Kind::DotSegment: return "name has a part '.' or '..'";
    case Kind::ForbiddenByte: return "name holds a colon or a control byte";
    case Kind::ReservedName: return "name is reserved by Windows for a device";
    case Kind::TrailingDotOrSpace: return "name has a part ending in a dot or a space";
    case Kind::ForbiddenCharacter: return "name holds a character Windows forbids (< > \" | ? *)";
    case Kind::SameFile: return "is the opened archive itself";
    case Kind::SourceChanged: return kArchiveChangedWords;
    case Kind::Cancelled: return "cancelled";
    case Kind::NotFound: return "no entry of that name";
  }
  return "unknown error";
}

void CStatus::Misused(const char* what) {
  std::fprintf(stderr, "internal fault: %s\n", what);
  std::abort();
}
