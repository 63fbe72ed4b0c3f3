# shellcheck shell=bash
# Sourced by the sanitizer scripts. sanitized_ctest TSAN_SUPPRESSIONS ASAN_EXTRA [ctest
# arguments...] runs ctest with every sanitizer writing its reports to a fresh directory,
# and fails on any test failure and on any report, including reports from the bridge
# processes that the end-to-end tests start. ASAN_EXTRA ("" for none) is added to the
# AddressSanitizer options; other sanitizer settings (LSAN_OPTIONS) come from the caller's
# environment.
sanitized_ctest() {
  local tsan_suppressions=$1 asan_extra=$2
  shift 2
  local reports status=0
  reports=$(mktemp -d)
  ASAN_OPTIONS="halt_on_error=1:detect_leaks=1${asan_extra:+:$asan_extra}:log_path=$reports/asan" \
  UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan" \
  TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:log_path=$reports/tsan:suppressions=$tsan_suppressions" \
    ctest "$@" || status=$?
  if compgen -G "$reports/*" >/dev/null; then
    echo "== sanitizer reports ==" >&2
    cat "$reports"/* >&2
    status=1
  fi
  rm -rf "$reports"
  return $status
}
