# Sourced by the benchmark scripts: measure LABEL COMMAND... runs the command under /usr/bin/time
# and prints its CPU (user + system) over the run's $seconds and its peak memory; $work is the
# script's temporary folder.
measure() {
    label=$1; shift
    /usr/bin/time -f "%U %S %e %M" -o "$work/time" "$@" || true
    tail -n 1 "$work/time" > "$work/time1"  # after "Command exited with ..." when it did
    read -r user sys wall kb < "$work/time1"
    awk -v l="$label" -v u="$user" -v s="$sys" -v w="$wall" -v k="$kb" -v d="$seconds" 'BEGIN {
        printf "%-44s cpu %6.2f s (%5.2f %% of a core over %s s), wall %6.1f s, peak %7.1f MiB\n",
               l, u + s, 100 * (u + s) / d, d, w, k / 1024 }'
}
