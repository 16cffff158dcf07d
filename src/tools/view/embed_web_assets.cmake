# Writes a C++ source file that holds the live page's files as byte arrays and
# defines scene::view::webAssets() over them (web_assets.h).
#   cmake -DOUTPUT=web_assets.cpp -DASSETS="a;b;c" -P embed_web_assets.cmake
set(arrays "")
set(entries "")
set(index 0)
foreach(path IN LISTS ASSETS)
  get_filename_component(name "${path}" NAME)
  file(READ "${path}" bytes HEX)
  string(LENGTH "${bytes}" digits)
  math(EXPR size "${digits} / 2")
  # Hexadecimal escapes in string literals of 32 bytes each, which the
  # compiler joins: any byte is safe, and the file stays line by line.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" bytes "${bytes}")
  string(REGEX REPLACE "((\\\\x[0-9a-f][0-9a-f]){32})" "\\1\"\n    \"" bytes "${bytes}")
  string(APPEND arrays "constexpr char kAsset${index}[] =\n    \"${bytes}\";\n")
  string(APPEND entries "    {\"${name}\", {kAsset${index}, ${size}}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.new" "// Written by embed_web_assets.cmake from src/tools/view/web/; do not edit.
#include \"tools/view/web_assets.h\"

#include <array>

namespace scene::view {
namespace {

${arrays}
constexpr std::array<WebAsset, ${index}> kAssets{{
${entries}}};

}  // namespace

std::span<const WebAsset> webAssets() { return kAssets; }

}  // namespace scene::view
")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
