#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A small mutation check: each fault of the catalogue below (one realistic
# slip: a flipped comparison, a saturating operation turned plain, a
# reordered floating-point expression, a loosened string comparison, ...)
# is applied in turn to a scratch copy of the tree, which is rebuilt
# incrementally (the test preset) and tested with the release test suite.
# A fault that no test notices survives. Every fault listed here changes
# the programs' output or a library result, so none should survive; run it
# when you change the tests. CI does not.
#   tools/mutate.sh [TEXT]   (only the faults whose line contains TEXT)
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
# shellcheck source=tools/require.sh
. tools/require.sh
require cmake
require ninja ninja-build
require git
only=${1:-}

# file @@ text as it is @@ text with the fault. The text must occur exactly
# once in the file; \n in it stands for a line break.
catalogue=$(cat <<'FAULTS'
kernel/coeffs.cpp @@ const std::int64_t centre = (std::int64_t{n} - 1) / 2; @@ const std::int64_t centre = std::int64_t{n} / 2;
kernel/coeffs.cpp @@ const double numerator = -std::pow( @@ const double numerator = std::pow(
kernel/coeffs.cpp @@ i < taps; ++i) {\n        sum = samples[i] + sum; @@ i <= taps && i < 9; ++i) {\n        sum = samples[i] + sum;
kernel/coeffs.cpp @@ out[i] = samples[i] * inv; @@ out[i] = samples[i] / sum;
kernel/coeffs.cpp @@ std::round(samples[i] * inv) @@ std::round(samples[i] / samples[0])
kernel/coeffs.cpp @@ std::round(samples[i] * inv) @@ std::trunc(samples[i] * inv)
kernel/pow2.cpp @@ if (!(v >= 1.0)) { @@ if (!(v > 1.0)) {
kernel/pow2.cpp @@ (bits >> 51) & 1U @@ (bits >> 50) & 1U
kernel/pow2.cpp @@ return power >= 63 ? @@ return power > 63 ?
kernel/pow2.cpp @@ sat_abs(sat_sub(a[i][j], b[i][j])) @@ sat_sub(a[i][j], b[i][j])
kernel/include/tapsmith/saturating.hpp @@     if (x >= two63) { @@     if (x > two63) {
kernel/include/tapsmith/saturating.hpp @@ return (a < 0) != (b < 0) ? @@ return (a < 0) == (b < 0) ?
kernel/matrix.cpp @@ const std::int64_t product = sat_mul(coeffs[j], coeffs[i]); @@ const std::int64_t product = coeffs[j] * coeffs[i];
kernel/matrix.cpp @@ factor = saturate_to_int64(sum); @@ factor = static_cast<std::int64_t>(sum);
kernel/matrix.cpp @@ if (n <= 0 || n > DIM_MAX) { @@ if (n < 0 || n > DIM_MAX) {
kernel/taps.cpp @@ return (p.total - c) / 2 <= reach; @@ return (p.total - c) / 2 < reach;
kernel/taps.cpp @@ search s{p, b, costs, least + std::ldexp(least, -36)}; @@ search s{p, b, costs, least};
kernel/taps.cpp @@ bits < 1 || bits > FIXED_BITS_MAX @@ bits < 1 || bits > 31
kernel/taps.cpp @@ for (std::size_t k = p.m + 1; k-- > 0;) { @@ for (std::size_t k = p.m + 1; k-- > 1;) {
kernel/taps.cpp @@ if (!found || squares < best_squares) { @@ if (!found || squares <= best_squares) {
kernel/figures.cpp @@ (std::ldexp(1.0, pixel_bits) - 1.0) * 0.5 * deviation + 0.5 @@ std::ldexp(1.0, pixel_bits) * 0.5 * deviation + 0.5
kernel/figures.cpp @@ std::ldexp(1.0, -2 * bits) @@ std::ldexp(1.0, -bits)
kernel/response.cpp @@ point.ideal *= std::sin(pi * f) / (pi * f); @@ point.ideal *= std::sin(pi * f) / f;
kernel/blur.cpp @@ const std::int64_t period = 2 * length - 2; @@ const std::int64_t period = 2 * length - 1;
kernel/blur.cpp @@ static_cast<V>(V{1} << (2 * s.bits - 1)) @@ static_cast<V>(V{1} << (2 * s.bits - 2))
fixed/apply.cpp @@ out.samples[p * in.channels + a] = in.samples[p * in.channels + a]; @@ (void)a;
fixed/apply.cpp @@ std::ldexp(1.0, static_cast<int>(in.bit_depth)) - 1.0; @@ std::ldexp(1.0, static_cast<int>(in.bit_depth));
fixed/options.hpp @@ border edge = border::reflect101; @@ border edge = border::replicate;
fixed/options.cpp @@ !digit(name[i]) && name[i] != '_') { @@ !digit(name[i])) {
fixed/options.cpp @@ if (o.apply == nullptr) {\n        s = now; @@ if (true) {\n        s = now;
fixed/run.cpp @@ if (r.figures.worst_error_2d < 1.0) { @@ if (r.figures.worst_error_2d < 2.0) {
fixed/formats.cpp @@ std::isfinite(im.psnr_db) ? arg(im.psnr_db) : arg("null") @@ arg(im.psnr_db)
cli/files.cpp @@ if (std::fclose(f.stream) != 0 && error == 0) { @@ if (std::fclose(f.stream) != 0 && error == 0 && false) {
image/png.cpp @@ if (index >= static_cast<std::size_t>(s.entries)) { @@ if (index > static_cast<std::size_t>(s.entries)) {
report/report.cpp @@         report_tables tables; @@         static report_tables tables;
report/report.cpp @@             sum = sat_add(sum, table[i][j]); @@             sum = sum + table[i][j];
report/report.cpp @@             sum = sat_add(sum, table[i][j]); @@             sum = static_cast<std::int64_t>(static_cast<std::uint64_t>(sum) + static_cast<std::uint64_t>(table[i][j]));
report/report.cpp @@             t.mask[i][j] = sat_mul(t.GI[j], t.GI[i]); @@             t.mask[i][j] = t.GI[j] * t.GI[i];
report/report.cpp @@         factor = sat_add(factor, t.GI[i]); @@         factor = factor + t.GI[i];
report/report.cpp @@ put_row(out, &matrix[i * taps], taps, 6); @@ put_row(out, &matrix[i * taps], taps, 4);
report/args.cpp @@ std::strcmp(argv[1], "-h") == 0 @@ std::strncmp(argv[1], "-h", 2) == 0
report/args.cpp @@ if (argc == 2 && @@ if (argc >= 2 &&
cli/output.cpp @@ std::chars_format::fixed, 6) @@ std::chars_format::fixed, 5)
cli/output.cpp @@     p += std::max(width - length, 0); @@     p += std::max(width - length - 1, 0);
fixed/settings.cpp @@ (s.bits < 1 || s.bits > FIXED_BITS_MAX) @@ (s.bits < 0 || s.bits > FIXED_BITS_MAX)
fixed/options.cpp @@ name.size() > 32 @@ name.size() > 33
fixed/options.cpp @@ name.back() != '_' @@ name.back() != '-'
cli/numbers.cpp @@ r.ptr != text.data() + text.size() || value < low @@ value < low
cli/output.cpp @@ if (format.size() >= 2 && format[1] == format[0]) { @@ if (format.size() >= 2) {
FAULTS
)

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
tar --exclude=./build --exclude=./.git -cf - . | tar -xf - -C "$scratch"
cd "$scratch" || exit 1
echo "== building the scratch copy"
# Warnings stay warnings here: a fault may leave a variable unused.
if ! { cmake --preset test -DTAPSMITH_WARNINGS_AS_ERRORS=OFF >/dev/null && cmake --build --preset test >/dev/null; }; then
    echo "mutate: the unchanged tree does not build"
    exit 1
fi
ctest --preset test -j 2 >/dev/null 2>&1 || { echo "mutate: the unchanged tree fails its tests"; exit 1; }

tried=0
survivors=()
while IFS= read -r line; do
    case $line in *"$only"*) ;; *) continue ;; esac
    file=${line%% @@ *}
    rest=${line#* @@ }
    from=${rest%% @@ *}
    to=${rest#* @@ }
    cp "$file" "$file.orig"
    if ! FROM="$from" TO="$to" perl -0777 -i -pe '
            my ($f, $t) = ($ENV{FROM}, $ENV{TO});
            s/\\n/\n/g for $f, $t;
            my $count = () = /\Q$f\E/g;
            die "found $count times\n" unless $count == 1;
            s/\Q$f\E/$t/;' "$file"; then
        echo "mutate: cannot apply to $file: $from"
        mv "$file.orig" "$file"
        exit 2
    fi
    tried=$((tried + 1))
    if ! cmake --build --preset test >/dev/null 2>&1; then
        verdict="DOES NOT BUILD"
        survivors+=("$file: $to (a fault must build to tell anything)")
    elif ctest --preset test -j 2 --stop-on-failure >/dev/null 2>&1; then
        verdict="SURVIVED"
        survivors+=("$file: $to")
    else
        verdict="caught"
    fi
    printf '%-22s %-15s %s\n' "$file" "$verdict" "${to//\\n/ }"
    mv "$file.orig" "$file"
    touch "$file"
done <<<"$catalogue"

echo
echo "mutate: $((tried - ${#survivors[@]})) of $tried faults caught"
for s in "${survivors[@]}"; do
    echo "not caught: $s"
done
[ ${#survivors[@]} -eq 0 ]
