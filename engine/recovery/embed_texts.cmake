# Writes the files named in INPUTS (paths joined by "|") into OUTPUT as one C++ byte array,
# kRecoveryTexts, one after the other. Run by the build:
#   cmake -DOUTPUT=file.inc "-DINPUTS=a.txt|b.txt" -P embed_texts.cmake
string(REPLACE "|" ";" inputs "${INPUTS}")
set(hex "")
foreach(input IN LISTS inputs)
  file(READ "${input}" file_hex HEX)
  string(APPEND hex "${file_hex}0a")
endforeach()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," hex "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" hex "${hex}")
file(WRITE "${OUTPUT}.tmp"
     "// Generated from the text model's source texts by embed_texts.cmake.\n"
     "static const unsigned char kRecoveryTexts[] = {\n${hex}};\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
