#pragma once
// Helpers for file paths held as text, with the classic string-path rules:
// repeated slashes count as one, a trailing slash is ignored (except for "/"),
// and a leading dot does not start an extension (".bashrc" has none).
#include <string>
#include <string_view>
#include <vector>

namespace base {

// "/tmp/scratch.tiff" -> "scratch.tiff"; "/tmp/" -> "tmp"; "/" -> "/"; "" -> "".
std::string lastPathComponent(std::string_view path);
// "/tmp/scratch.tiff" -> "tiff"; "a..tiff" -> "tiff"; ".bashrc" -> ""; "/tmp/" -> "".
std::string pathExtension(std::string_view path);
// "/tmp/scratch.tiff" -> "/tmp/scratch"; "/tmp/" -> "/tmp"; ".tiff" -> ".tiff".
std::string deletingPathExtension(std::string_view path);
// "/tmp/scratch.tiff" -> "/tmp"; "/tmp/lock/" -> "/tmp"; "/tmp" -> "/"; "a" -> "".
std::string deletingLastPathComponent(std::string_view path);
// "/tmp" + "a.txt" -> "/tmp/a.txt"; "" + "a" -> "a"; slashes are tidied.
std::string appendingPathComponent(std::string_view path, std::string_view component);
// "/tmp/a.old" + "tiff" -> "/tmp/a.old.tiff"; "/tmp/" + "tiff" -> "/tmp.tiff".
// A path with no last component ("" or "/") and an extension holding "/" leave the
// path unchanged.
std::string appendingPathExtension(std::string_view path, std::string_view extension);
// "/tmp/scratch" -> {"/", "tmp", "scratch"}; "a/b/" -> {"a", "b", "/"}.
std::vector<std::string> pathComponents(std::string_view path);
// Expands a leading "~" or "~user"; other paths come back unchanged, bar a trailing slash.
std::string expandingTildeInPath(std::string_view path);
// Expands "~", drops "." components, empty components and a trailing slash, and in an
// absolute path removes each ".." with the component before it (never above "/").
// Purely textual: symbolic links are not consulted.
std::string standardizingPath(std::string_view path);
bool isAbsolutePath(std::string_view path);

}  // namespace base
