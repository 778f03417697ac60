# Run at build time (cmake -DOUT=file -P WriteBuildTime.cmake): writes the source of
# PeltaBuildTime() with the current time.
string(TIMESTAMP now "%s" UTC)
file(WRITE ${OUT} "// Made by the build; changes with every build of the program.\n"
                  "#include <cstdint>\n"
                  "int64_t PeltaBuildTime()\n{\n    return ${now};\n}\n")
