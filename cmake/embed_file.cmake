# Turns a file into a C++ source holding its bytes: cmake -DINPUT=... -DOUTPUT=... -DSYMBOL=...
# -P embed_file.cmake. Defines `extern const char SYMBOL[]` (NUL-terminated) and
# `extern const unsigned long SYMBOL_size` (without the NUL) in namespace qorv::tool.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
# One line per 64 bytes keeps the compiler's diagnostics readable.
string(REGEX REPLACE "(('\\\\x[0-9a-f][0-9a-f]',){64})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT} at build time; do not edit.\n"
  "namespace qorv::tool {\n"
  "extern const char ${SYMBOL}[];\nextern const unsigned long ${SYMBOL}_size;\n"
  "const char ${SYMBOL}[] = {\n${bytes}0};\n"
  "const unsigned long ${SYMBOL}_size = ${size};\n}\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
