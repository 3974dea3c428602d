# The PE files the release ships for each architecture: the one list the release steps work over.
# Each is stripped (its debugging information goes into the symbols archive, linked from the file by
# .gnu_debuglink), signed when the bundle is given a certificate, listed in the checksums and the
# bill of materials, and its link map says which static libraries the notices name. A new shipped
# binary is one more pair here: its target and its path in a build folder (the bundle puts it into
# the architecture's folder under its file name).
# (SHIPPED_FILES stays on one line: bench/run.sh reads it.)
set(SHIPPED_TARGETS AtomTables10 QxBedrock10 AtomTables10Doctor)
set(SHIPPED_FILES AtomTables10.dll bedrock/QxBedrock10.dll tools/doctor/AtomTables10Doctor.exe)
