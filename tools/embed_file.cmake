# Writes INPUT's bytes as a C++ array named NAME (with NAME_size) into OUTPUT.
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," body "${hex}")
file(WRITE ${OUTPUT} "#include <cstddef>\nextern const char ${NAME}[] = {${body}'\\0'};\nextern const std::size_t ${NAME}_size = ${size};\n")
