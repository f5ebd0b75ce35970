// The objects of a mapped file, in file order: a thin object, each slice of
// a universal file, each archive member (in a slice too).
#pragma once

#include "libstuff/ofile.h"

#include <functional>
#include <string_view>

namespace macho {

/// Calls `each` with the record set to every object of the file `of` maps
/// (its path is `path`), in file order. `arch_name` is the slice's name or
/// null; `heading` names the object as the printers' listings do: "PATH",
/// "PATH(MEMBER)", followed by " (architecture NAME)" in a slice. A slice
/// or member the reader refuses is skipped (it reports it itself).
void for_each_object(ofile* of, const char* path,
                     const std::function<void(const char* arch_name, std::string_view heading)>& each);

} // namespace macho
