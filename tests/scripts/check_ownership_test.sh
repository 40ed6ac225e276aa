#!/usr/bin/env bash
# The ownership check on small trees made here: it must name exactly the planted
# violations (an engine call outside engine/, writes into another folder's
# variables, directly, through a writable alias or a standard algorithm, an
# extern no other folder needs, headers included from the wrong place) and pass
# a clean tree, where const aliases and algorithms that only read are left alone.
#   usage: check_ownership_test.sh CHECK_SCRIPT
check=$1
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"

# The same owners in both trees.
owners() {
  put speech/speech.h '#pragma once' '// Owner: speech/.' 'extern std::atomic<int32_t> PlaybackState;' \
    'extern const int32_t& ReadOnly;  // constants are not state'
  put speech/speech_internal.h '#pragma once' 'extern int32_t speakingMark;'
  put speech/speech_testing.h '#pragma once' '#include "speech/speech_internal.h"'
  put engine/engine.h '#pragma once' 'extern EngineSession Engine;' 'extern char EngineFolder[256];'
  put engine/calls.cpp '#include "engine/engine.h"' 'void F() { Engine.api.speak(1, 2, 0); Engine.lastResult = 1; }'
  put speech/notify.cpp '#include "speech/speech_internal.h"' 'void N() { PlaybackState = 1; speakingMark = 2; }'
  put speech/playback.cpp '#include "speech/speech_testing.h"' 'int B() { return Engine.initialised != 0 && Engine.status <= 1; }'
  put voices/lookup.cpp '#include "speech/speech.h"' 'int L() { return PlaybackState.load() == 1 ? ReadOnly : 0; }' \
    'size_t S() { return sizeof EngineFolder; }'
}

tree=planted
owners
put driver/exports.cpp '#include "speech/speech.h"' \
  'void A() { PlaybackState.store(0); }' \
  'void B() { Engine.api.stop(1, 2); }' \
  '// Engine.api.pause(1, 2) in a comment is not a call' \
  'void C() { Engine.textRecord.length = 3; }' \
  'void D() { ++PlaybackState; }' \
  'void E() { strcpy(EngineFolder, "x"); }' \
  'void G() { Engine.languages[2].code = 1; }'
put voices/activation.cpp '#include "speech/speech_internal.h"' '#include "speech/speech_testing.h"' \
  'int H() { return Engine.volume == 3 ? 1 : 0; }' \
  'void I() { EngineSession& s = Engine; s.initialised = 0; }' \
  'void J() { int32_t* level = &Engine.level; *level = 1; }' \
  'void K() { std::fill(std::begin(EngineFolder), std::end(EngineFolder), 0); }' \
  'void L() { std::copy(name, name + 4, EngineFolder); }' \
  'void M() { std::swap(Engine.rate, other); }'
put voices/lookup.cpp '#include "speech/speech.h"' 'int L() { return PlaybackState.load() == 1 ? ReadOnly : 0; }' \
  'size_t S() { return sizeof EngineFolder; }' \
  'void R() { const EngineSession& s = Engine; std::copy(EngineFolder, EngineFolder + 4, out); Use(s); }'
put speech/speech.h '#pragma once' 'extern std::atomic<int32_t> PlaybackState;' 'extern const int32_t& ReadOnly;' \
  'extern int32_t Unshared;'
output=$(bash "$check" "$work/$tree")
status=$?
[ "$status" -ne 0 ] || fail "$tree: passed with violations"
expect_line 'driver/exports.cpp:2: writes PlaybackState, which speech/ owns (speech/speech.h)'
expect_line 'driver/exports.cpp:3: calls the engine'"'"'s entry points outside engine/'
expect_line 'driver/exports.cpp:5: writes Engine, which engine/ owns (engine/engine.h)'
expect_line 'driver/exports.cpp:6: writes PlaybackState, which speech/ owns (speech/speech.h)'
expect_line 'driver/exports.cpp:7: writes EngineFolder, which engine/ owns (engine/engine.h)'
expect_line 'driver/exports.cpp:8: writes Engine, which engine/ owns (engine/engine.h)'
expect_line 'speech/speech.h: extern Unshared is named by no other folder: declare it in speech/ only'
expect_line 'voices/activation.cpp:1: includes speech/speech_internal.h, internal to speech/'
expect_line 'voices/activation.cpp:2: includes speech/speech_testing.h, a header for tests'
expect_line 'voices/activation.cpp:4: binds a writable alias to Engine, which engine/ owns (engine/engine.h)'
expect_line 'voices/activation.cpp:5: binds a writable alias to Engine, which engine/ owns (engine/engine.h)'
expect_line 'voices/activation.cpp:6: writes EngineFolder, which engine/ owns (engine/engine.h)'
expect_line 'voices/activation.cpp:7: writes EngineFolder, which engine/ owns (engine/engine.h)'
expect_line 'voices/activation.cpp:8: writes Engine, which engine/ owns (engine/engine.h)'
expect_line 'ownership violations: 14'

tree=clean
owners
output=$(bash "$check" "$work/$tree")
status=$?
[ "$status" -eq 0 ] || fail "$tree: failed (status $status):"$'\n'"$output"
expect_line 'ownership violations: 0'
expect_line 'extern variables checked: 4'

finish
