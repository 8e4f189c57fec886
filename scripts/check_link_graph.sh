#!/usr/bin/env bash
# Checks the built binaries against what the build graph promises (CMake checks
# the graph itself at configuration): the engine library, the headless tests of
# the engine, the station link, its transports, the station, the kit and the
# clients, the telephony library and its tests, and the fuzzers load no Qt Gui
# or Qt Widgets; the stills library loads no Qt. The video pipeline's tests load
# no Qt Gui or Widgets either, and the COM servers load no engine library.
#   usage: scripts/check_link_graph.sh <build>/bin
set -uo pipefail
bin=${1:?usage: check_link_graph.sh <bin folder>}
passed=0
failed=0

# check <file> <forbidden library pattern> <what it must not load>
check() {
    local file=$bin/$1 found
    if [ ! -e "$file" ]; then
        return
    fi
    found=$(ldd "$file" | grep -oE "$2" | sort -u | tr '\n' ' ')
    if [ -n "$found" ]; then
        echo "FAIL $1 loads $found($3)"
        failed=$((failed + 1))
    else
        echo "ok   $1 loads no $3"
        passed=$((passed + 1))
    fi
}

# These must exist, or the check proves nothing.
for required in libqel.so libtavicore.so trennick_link_tests trennick_station_tests trennick_video_pipeline_tests \
                libranvic.so libh263tmn.so; do
    if [ ! -e "$bin/$required" ]; then
        echo "FAIL $required is missing from $bin"
        failed=$((failed + 1))
    fi
done

check libqel.so 'libQt[0-9][A-Za-z]*' "Qt"
for file in libtavicore.so tavicore_tests trennick_link_tests trennick_net_tests trennick_serial_tests \
            trennick_kit_tests trennick_clients_tests trennick_station_tests libvelmoortapi.so telephony_tests \
            fuzz_link_buckets fuzz_link_hello \
            fuzz_link_services event_file_fuzz event_list_fuzz; do
    check "$file" 'libQt[0-9](Gui|Widgets|OpenGL|OpenGLWidgets|PrintSupport)' "Qt Gui or Widgets"
done

# The video pipeline reaches no widgets (the decoder library it links has no Qt
# at all, which the configuration checks).
check trennick_video_pipeline_tests 'libQt[0-9](Gui|Widgets|OpenGL|OpenGLWidgets|PrintSupport)' "Qt Gui or Widgets"

# The decoder servers bind their codec libraries through the platform's loader;
# no COM server needs the engine library.
for server in libranvic.so libh263tmn.so libzoenc.so libambrelapi.so libscrivane.so libmorvel.so libpelmo.so \
              libzonet.so libnordel.so; do
    check "$server" 'libtavicore[A-Za-z_]*\.so' "engine library"
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
