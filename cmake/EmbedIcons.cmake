# Turns the rendered PNG icons into C++ source: one table of sizes and bytes.
#   -DICON_DIR=app/icons -DSIZES=16,32,... -DOUTPUT=file.inc  (ICON_DIR/ostraloader-<size>.png)
set(body "")
set(table "")
set(i 0)
string(REPLACE "," ";" sizes "${SIZES}")
foreach(size IN LISTS sizes)
  file(READ "${ICON_DIR}/ostraloader-${size}.png" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND body "static const unsigned char kIcon${i}[] = {${bytes}};\n")
  string(APPEND table "    {${size}, kIcon${i}, sizeof kIcon${i}},\n")
  math(EXPR i "${i} + 1")
endforeach()
file(WRITE "${OUTPUT}.tmp" "// Generated from app/icons; do not edit.\n${body}"
  "static const struct { int size; const unsigned char* png; unsigned long length; } kIcons[] = {\n"
  "${table}};\n")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUTPUT}.tmp" "${OUTPUT}")
