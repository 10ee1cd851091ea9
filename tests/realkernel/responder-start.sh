# Sourced by the guest's story scripts: start_responder OUT RESPONDER ARGS...
# starts the TCMU responder with ARGS and its ready file in OUT, waits until
# it serves and udev has seen its disks, and leaves its process id in
# $responder_pid; a responder that does not get ready ends the story.
start_responder() {
  local out="$1" responder="$2"
  shift 2
  "$responder" "$@" --ready "$out/.ready" &
  responder_pid=$!
  for _ in $(seq 100); do
    [ -f "$out/.ready" ] && break
    kill -0 "$responder_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ ! -f "$out/.ready" ]; then
    echo "story: the responder did not get ready" >&2
    kill "$responder_pid" 2>/dev/null
    exit 1
  fi
  udevadm settle -t 10
}
