#!/usr/bin/env bash
# Runs a command with an X display: the one we have, or a private Xvfb.
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
	exec "$@"
fi
exec xvfb-run -a -s "-screen 0 1280x720x24 -nolisten tcp" "$@"
