# Copies the run-time folder beside the programs; catalogue sources are compiled instead.
file(COPY ${SRC}/ DESTINATION ${DST} PATTERN po EXCLUDE)
