#!/usr/bin/env bash
# Measures the programs beside standard tools on the same files, in one run.
# Usage: bench/run.sh [build-directory]   (default: build/release, built when missing)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/release}
if [[ ! -f "$bin/CMakeCache.txt" ]]; then
  cmake -S "$root" -B "$bin" -DCMAKE_BUILD_TYPE=Release -DJX_TESTS=OFF >/dev/null
fi
cmake --build "$bin" -j2 --target jxkey jxenc jxdec small_files_floor >/dev/null
bin=$(cd "$bin" && pwd)  # the runs below happen in the scratch directory
for tool in openssl /usr/bin/time sha256sum; do
  command -v "$tool" >/dev/null || { echo "bench needs $tool (apt-get install openssl time)"; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/jx-bench-XXXXXX")
[[ "$work" == /* ]] || work=$PWD/$work  # a relative TMPDIR: the cleanup runs from inside
trap 'rm -rf "$work"' EXIT
cd "$work"
mib=$((1024 * 1024))

# Best of three runs of a command that writes `output` (a pattern, or "-" for none): prints
# "seconds peak-kilobytes" of the fastest, timed to the millisecond. The output is removed
# before each run, so that no run pays for replacing the previous one (on ext4 that alone
# costs about 0.1 s per 256 MiB).
measure() {
  local output=$1 best="" line start end
  shift
  for _ in 1 2 3; do
    # shellcheck disable=SC2086  # the pattern is expanded here
    [[ "$output" == - ]] || rm -f $output
    start=$EPOCHREALTIME
    /usr/bin/time -f "%M" -o time.out "$@" >/dev/null 2>&1 </dev/null || {
      echo "failed: $*" >&2
      exit 1
    }
    end=$EPOCHREALTIME
    line="$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }') $(tail -1 time.out)"
    if [[ -z "$best" ]] || awk -v a="${line%% *}" -v b="${best%% *}" 'BEGIN { exit !(a < b) }'; then
      best=$line
    fi
  done
  echo "$best"
}

rate() { awk -v bytes="$1" -v s="$2" 'BEGIN { if (s < 0.005) s = 0.005; printf "%8.1f", bytes / s / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a < 0.005) a = 0.005; if (b < 0.005) b = 0.005; printf "%5.2f", b / a }'; }

row() {  # label bytes seconds peak reference-seconds
  printf "%-34s %s MB/s  %7.3f s  %7d KiB peak  x%s of %s\n" "$1" "$(rate "$2" "$3")" "$3" "$4" \
    "$(ratio "$3" "$5")" "$6"
}

"$bin/jxkey" -r key >/dev/null

# age, the nearest peer of jxenc: installed with apt-get where missing and the bench runs as
# root, else its row is skipped.
if ! command -v age >/dev/null && [[ $(id -u) == 0 ]]; then
  (apt-get update && apt-get install -y age) >/dev/null 2>&1 || true
fi

# The threaded rows use as many threads as there are processors (at least 2, at most 8), beside
# the single-threaded rows; by default the programs use one thread on fewer than 3 processors.
threads=$(nproc)
((threads < 2)) && threads=2
((threads > 8)) && threads=8
echo "== threads: the threaded rows use --threads $threads ($(nproc) processors here);"
echo "   the rows marked --threads 1 are the single-threaded runs"

# The 256 MiB rows, in the current directory. jxenc and jxdec flush their output to disk
# before they name it; cp, dd and openssl do not, so the references are also timed with
# their output flushed (sync -d), which is the like-for-like comparison.
big_file_rows() {
  head -c $((256 * mib)) /dev/urandom >big
  local size=$((256 * mib)) line
  local cp_s cp_kb dd_s dd_kb ddf_s ddf_kb enc_s enc_kb dec_s dec_kb encf_s encf_kb decf_s decf_kb
  read -r cp_s cp_kb < <(measure big.copy cp big big.copy)
  read -r dd_s dd_kb < <(measure big.dd dd if=big of=big.dd bs=256K)
  read -r ddf_s ddf_kb < <(measure big.dd dd if=big of=big.dd bs=256K conv=fdatasync)
  local aes=(openssl enc -aes-256-ctr -K "$aes_key" -iv "$aes_iv")
  read -r ossl_enc_s enc_kb < <(measure big.aes "${aes[@]}" -in big -out big.aes)
  read -r ossl_dec_s dec_kb < <(measure big.plain "${aes[@]}" -d -in big.aes -out big.plain)
  read -r ossl_encf_s encf_kb < <(measure big.aes sh -c '"$@" -in big -out big.aes && sync -d big.aes' - "${aes[@]}")
  read -r ossl_decf_s decf_kb < <(measure big.plain sh -c '"$@" -d -in big.aes -out big.plain && sync -d big.plain' - "${aes[@]}")
  rm -f big.copy big.dd big.aes big.plain
  row "cp" $size "$cp_s" "$cp_kb" "$cp_s" "cp"
  row "dd bs=256K (the programs' I/O)" $size "$dd_s" "$dd_kb" "$ossl_enc_s" "openssl enc"
  row "dd bs=256K conv=fdatasync" $size "$ddf_s" "$ddf_kb" "$ossl_encf_s" "openssl enc, flushed"
  row "openssl enc -aes-256-ctr" $size "$ossl_enc_s" "$enc_kb" "$ossl_enc_s" "openssl enc"
  row "openssl enc -d -aes-256-ctr" $size "$ossl_dec_s" "$dec_kb" "$ossl_dec_s" "openssl dec"
  row "openssl enc, flushed" $size "$ossl_encf_s" "$encf_kb" "$ossl_encf_s" "openssl enc, flushed"
  row "openssl enc -d, flushed" $size "$ossl_decf_s" "$decf_kb" "$ossl_decf_s" "openssl dec, flushed"
  age_s=""
  if [[ -n "$recipient" ]]; then
    read -r age_s age_kb < <(measure big.age age -r "$recipient" -o big.age big)
    read -r agef_s agef_kb < <(measure big.age sh -c 'age -r "$1" -o big.age big && sync -d big.age' - "$recipient")
    rm -f big.age
    row "age -r" $size "$age_s" "$age_kb" "$ossl_enc_s" "openssl enc"
    row "age -r, flushed" $size "$agef_s" "$agef_kb" "$ossl_encf_s" "openssl enc, flushed"
  fi
  local flags label
  for flags in "" "-p" "-i" "-pi"; do
    label=${flags:-(no options)}
    read -r enc_s enc_kb < <(measure big.jxd "$bin/jxenc" -F $flags --threads "$threads" -k key.jxk big)
    read -r enc1_s enc1_kb < <(measure big.jxd "$bin/jxenc" -F $flags --threads 1 -k key.jxk big)
    mv big.jxd stream.jxd
    read -r dec_s dec_kb < <(measure stream "$bin/jxdec" -F --threads "$threads" -k key.jxk stream.jxd)
    read -r dec1_s dec1_kb < <(measure stream "$bin/jxdec" -F --threads 1 -k key.jxk stream.jxd)
    cmp -s big stream || { echo "round trip failed for '$flags'"; exit 1; }
    both_rows "jxenc $label --threads $threads" $size "$enc_s" "$enc_kb" "$ossl_enc_s" "$ossl_encf_s" enc
    both_rows "jxenc $label --threads 1" $size "$enc1_s" "$enc1_kb" "$ossl_enc_s" "$ossl_encf_s" enc
    both_rows "jxdec $label --threads $threads" $size "$dec_s" "$dec_kb" "$ossl_dec_s" "$ossl_decf_s" dec
    both_rows "jxdec $label --threads 1" $size "$dec1_s" "$dec1_kb" "$ossl_dec_s" "$ossl_decf_s" dec
    if [[ -z "$flags" ]]; then
      peak256_enc_kb=$enc1_kb
      peak256_dec_kb=$dec1_kb
    fi
    if [[ -z "$flags" && -n "$age_s" ]]; then
      printf "%-34s x%s of age -r, x%s of age -r flushed (%d threads); x%s, x%s with --threads 1\n" \
        "jxenc (no options)" "$(ratio "$enc_s" "$age_s")" "$(ratio "$enc_s" "$agef_s")" "$threads" \
        "$(ratio "$enc1_s" "$age_s")" "$(ratio "$enc1_s" "$agef_s")"
    fi
    rm -f stream stream.jxd
  done
  rm -f big
}

# A row of jxenc or jxdec with its ratios to openssl as it is and to openssl flushed.
both_rows() {  # label bytes seconds peak openssl-seconds openssl-flushed-seconds enc|dec
  printf "%-34s %s MB/s  %7.3f s  %7d KiB peak  x%s of openssl %s, x%s of it flushed\n" "$1" \
    "$(rate "$2" "$3")" "$3" "$4" "$(ratio "$3" "$5")" "$7" "$(ratio "$3" "$6")"
}

aes_key=$(head -c 32 /dev/urandom | od -An -tx1 | tr -d ' \n')
aes_iv=$(head -c 16 /dev/urandom | od -An -tx1 | tr -d ' \n')
recipient=""
if command -v age >/dev/null && command -v age-keygen >/dev/null; then
  age-keygen -o age.key 2>/dev/null
  recipient=$(age-keygen -y age.key)
else
  echo "age -r: skipped (age is not installed: apt-get install age)"
fi

echo
echo "== 256 MiB file on disk (input bytes per second; ratio = reference time / this time)"
big_file_rows

# The same in memory, where a flush costs nothing: the programs' own speed. The widest
# moment holds the input, its inflated stream and the decrypted copy: 1.5 GiB.
shm_free_mib=0
if [[ -d /dev/shm && -w /dev/shm ]]; then
  shm_free_mib=$(df -Pm /dev/shm 2>/dev/null | awk 'NR == 2 { print $4 }')
fi
if ((${shm_free_mib:-0} < 1600)); then
  echo
  echo "256 MiB file in memory: skipped (/dev/shm missing, not writable or under 1600 MiB free)"
else
  shm=$(mktemp -d /dev/shm/jx-bench-XXXXXX)
  trap 'rm -rf "$work" "$shm"' EXIT
  cp key.jxk "$shm/"
  echo
  echo "== 256 MiB file in memory (tmpfs at /dev/shm: no disk under the flushes)"
  (cd "$shm" && big_file_rows)
  rm -rf "$shm"
fi

echo
echo "== memory with a 1 GiB file (peak must not grow with the size)"
head -c $((1024 * mib)) /dev/zero >huge
read -r huge_enc_s huge_enc_kb < <(/usr/bin/time -f "%e %M" -o time.out "$bin/jxenc" -F --threads 1 -k key.jxk huge >/dev/null; tail -1 time.out)
mv huge.jxd hstream.jxd
read -r huge_dec_s huge_dec_kb < <(/usr/bin/time -f "%e %M" -o time.out "$bin/jxdec" -F --threads 1 -k key.jxk hstream.jxd >/dev/null; tail -1 time.out)
read -r huge_enc8_s huge_enc8_kb < <(/usr/bin/time -f "%e %M" -o time.out "$bin/jxenc" -F -pi --threads 8 -k key.jxk huge >/dev/null; tail -1 time.out)
read -r huge_key_s huge_key_kb < <(/usr/bin/time -f "%e %M" -o time.out "$bin/jxkey" -f huge hk >/dev/null; tail -1 time.out)
printf "%-34s %7d KiB peak (256 MiB: %d KiB)\n" "jxenc --threads 1, 1 GiB" "$huge_enc_kb" "$peak256_enc_kb"
printf "%-34s %7d KiB peak (256 MiB: %d KiB)\n" "jxdec --threads 1, 1 GiB" "$huge_dec_kb" "$peak256_dec_kb"
printf "%-34s %7d KiB peak\n" "jxenc -pi --threads 8, 1 GiB" "$huge_enc8_kb"
printf "%-34s %7d KiB peak, %s MB/s\n" "jxkey -f 1 GiB" "$huge_key_kb" "$(rate $((1024 * mib)) "$huge_key_s")"
rm -f huge huge.jxd hstream.jxd hstream hk.jxk

echo
echo "== key from a 16 MiB file"
head -c $((16 * mib)) /dev/urandom >src16
read -r sha_s sha_kb < <(measure - sha256sum src16)
read -r keyf_s keyf_kb < <(measure fk.jxk "$bin/jxkey" -f src16 fk)
row "sha256sum" $((16 * mib)) "$sha_s" "$sha_kb" "$sha_s" "sha256sum"
row "jxkey -f" $((16 * mib)) "$keyf_s" "$keyf_kb" "$sha_s" "sha256sum"
read -r pw_s pw_kb < <(measure pk.jxk "$bin/jxkey" -i "correct horse battery staple" pk)
read -r rnd_s rnd_kb < <(measure rk.jxk "$bin/jxkey" -r rk)
printf "%-34s %7.3f s  %7d KiB peak\n" "jxkey -i (password key)" "$pw_s" "$pw_kb"
printf "%-34s %7.3f s  %7d KiB peak\n" "jxkey -r (random key)" "$rnd_s" "$rnd_kb"

echo
echo "== 1000 files of 1 KiB"
mkdir small streams
for i in $(seq 1000); do head -c 1024 /dev/urandom >"small/$i.bin"; done
files=(small/*.bin)
read -r small_enc_s small_enc_kb < <(measure 'small/*.jxd' "$bin/jxenc" -k key.jxk "${files[@]}")
mv small/*.jxd streams/
streams=(streams/*.jxd)
read -r small_dec_s small_dec_kb < <(measure 'streams/*.bin' "$bin/jxdec" -k key.jxk "${streams[@]}")
# The floor: only the I/O the programs cannot avoid (read, write, flush, name; each
# directory flushed once), on the same files.
read -r floor_enc_s _ < <(measure 'small/*.jxd' "$bin/small_files_floor" enc "${files[@]}")
read -r floor_dec_s _ < <(measure 'streams/*.bin' "$bin/small_files_floor" dec "${streams[@]}")
files_per_second() { awk -v s="$1" 'BEGIN { if (s < 0.005) s = 0.005; printf "%8.0f", 1000 / s }'; }
small_row() {  # label seconds peak floor-seconds
  printf "%-34s %7.3f s  %s files/s  %7d KiB peak  %5.2f x the floor (%.3f s)\n" "$1" "$2" \
    "$(files_per_second "$2")" "$3" "$(awk -v a="$2" -v b="$4" 'BEGIN { printf "%.2f", a / b }')" "$4"
}
small_row "jxenc" "$small_enc_s" "$small_enc_kb" "$floor_enc_s"
small_row "jxdec" "$small_dec_s" "$small_dec_kb" "$floor_dec_s"

echo
echo "== codec stages in memory (bench/codec_bench; not built when the build lacks the target)"
if cmake --build "$bin" --target codec_bench >/dev/null 2>&1 && [[ -x "$bin/codec_bench" ]]; then
  "$bin/codec_bench"
fi
