#!/usr/bin/env bash
# Makes the pictures and videos that face following is tested and shown
# with, from a real photo: scikit-image's "astronaut" (Eileen Collins, NASA,
# public domain; Debian's python3-skimage). Her head (256x256 pixels from
# the photo's top, the face about 88 pixels wide and centred at 128,127 in
# it) is laid on a grey canvas, still, panned, zoomed or taken away, with
# FFmpeg.
#   face-media.sh OUTPUT_FOLDER [SET]
# SET: tests (default; 640x360 pictures and videos), suite (a 640x360 video
# for the OBS Studio suite and one for framing), bench (1920x1080 videos with
# and without a face) or demo (the preview tool's demo videos).
set -euo pipefail
out=$1
set_name=${2:-tests}
photo=${TAVIMORE_FACE_PHOTO:-/usr/lib/python3/dist-packages/skimage/data/astronaut.png}
[ -r "$photo" ] || {
	echo "face-media.sh: $photo not found (Debian: apt-get install python3-skimage)" >&2
	exit 1
}
mkdir -p "$out"
ff() { ffmpeg -nostdin -loglevel error -y "$@"; }
head='[0:v]crop=256:256:95:0,format=rgb24'
grey=0x5a5a5a
video=(-c:v libx264 -preset veryfast -crf 16 -pix_fmt yuv420p -g 15 -r 30)

# A picture: the head at x,y on a canvas, scaled by s.
picture() { # NAME WIDTH HEIGHT X Y SCALE
	ff -i "$photo" -f lavfi -i "color=c=$grey:s=$2x$3" -filter_complex \
		"$head,scale=iw*$6:ih*$6[h];[1:v][h]overlay=x=$4:y=$5,format=rgb24" \
		-frames:v 1 "$out/$1.png"
}
# A video: the head moving by the overlay's expressions on a 640x360 canvas.
moving() { # NAME SECONDS X-EXPRESSION Y-EXPRESSION [MORE-FILTERS]
	ff -loop 1 -i "$photo" -f lavfi -i "color=c=$grey:s=640x360:r=30:d=$2" -filter_complex \
		"$head[h];[1:v][h]overlay=x='$3':y='$4':shortest=1${5:-}" \
		"${video[@]}" -t "$2" "$out/$1.mp4"
}

case $set_name in
tests)
	picture head-centre 640 360 192 52 1
	picture head-top-left 640 360 -60 -60 1
	picture head-bottom-right 640 360 444 184 1
	picture head-wide 800 450 440 100 1.25
	ff -f lavfi -i "color=c=$grey:s=16x16,format=rgb24,scale=1:1" -frames:v 1 "$out/one-pixel.png"
	# a face a sixteenth of the frame's width (120 and 80 pixels), and
	# the same frames without it
	picture small-face-1080p 1920 1080 1300 600 1.364
	picture small-face-720p 1280 720 200 380 0.909
	ff -f lavfi -i "color=c=$grey:s=1920x1080,format=rgb24" -frames:v 1 "$out/empty-1080p.png"
	ff -f lavfi -i "color=c=$grey:s=1280x720,format=rgb24" -frames:v 1 "$out/empty-720p.png"
	# framing: the head at 0.6 times the size, and no head
	picture head-small 640 360 243 103 0.6
	ff -f lavfi -i "color=c=$grey:s=640x360,format=rgb24" -frames:v 1 "$out/empty.png"
	# still; from left to right between 3 s and 5 s; gone to the right
	moving still 4 192 52
	moving moving 7 'if(lt(t,3),0,if(lt(t,5),(t-3)*192,384))' 52
	moving leaving 8 'if(lt(t,4),192,192+(t-4)*1200)' 52
	# two faces: the left one larger at first and moving a little, the
	# right one growing past it
	ff -loop 1 -i "$photo" -f lavfi -i "color=c=$grey:s=640x360:r=30:d=6" -filter_complex \
		"$head,split[a][b];[b]scale=w='176+t*24':h='176+t*24':eval=frame[g];[1:v][a]overlay=x='20+t*10':y=52:shortest=1[c];[c][g]overlay=x=340:y='40':shortest=1" \
		"${video[@]}" -t 6 "$out/two-faces.mp4"
	;;
suite)
	# still at the left for 6 s, to the right by 8 s, still there until 14 s
	moving suite 14 'if(lt(t,6),0,if(lt(t,8),(t-6)*192,384))' 52
	# framing: the head at full size for 6 s, then at 0.6 times the size
	ff -loop 1 -i "$photo" -f lavfi -i "color=c=$grey:s=640x360:r=30:d=14" -filter_complex \
		"$head,split[a][b];[b]scale=154:154[s];[1:v][a]overlay=x=192:y=52:enable='lt(t,6)':shortest=1[c];[c][s]overlay=x=243:y=103:enable='gte(t,6)'" \
		"${video[@]}" -t 14 "$out/suite-framing.mp4"
	;;
bench)
	# 1920x1080: the head three times as large, swaying from side to side
	# (once in the video's 10 s, so that it loops without a jump)
	ff -loop 1 -i "$photo" -f lavfi -i "color=c=$grey:s=1920x1080:r=30:d=10" -filter_complex \
		"$head,scale=768:768[h];[1:v][h]overlay=x='576+300*sin(2*PI*t/10)':y=156:shortest=1" \
		"${video[@]}" -t 10 "$out/face-1080p.mp4"
	# and a scene without a face, moving as much: scikit-image's coffee
	# cup, swaying the same way
	ff -loop 1 -i "${photo%/*}/coffee.png" -f lavfi -i "color=c=$grey:s=1920x1080:r=30:d=10" -filter_complex \
		"[0:v]scale=1200:800[c];[1:v][c]overlay=x='360+300*sin(2*PI*t/10)':y=140:shortest=1" \
		"${video[@]}" -t 10 "$out/no-face-1080p.mp4"
	;;
demo)
	# the whole photo, panned and zoomed across a larger canvas; then it
	# slides up until the face has left the frame (the suit stays)
	ff -loop 1 -i "$photo" -f lavfi -i "color=c=$grey:s=960x540:r=30:d=10" -filter_complex \
		"[0:v]scale=w='720+t*24':h='720+t*24':eval=frame[p];[1:v][p]overlay=x='min(t,6)*45':y='if(lt(t,6),-40-t*8,max(-88-(t-6)*600,-400))':shortest=1" \
		"${video[@]}" -t 10 "$out/face-demo.mp4"
	# the whole photo stepping back: smaller and smaller from 1 s to 8 s,
	# standing on the frame's bottom edge
	ff -loop 1 -i "$photo" -f lavfi -i "color=c=$grey:s=960x540:r=30:d=10" -filter_complex \
		"[0:v]scale=w='720-54*min(max(t-1,0),7)':h='720-54*min(max(t-1,0),7)':eval=frame[p];[1:v][p]overlay=x='(960-overlay_w)/2':y='540-overlay_h*0.8':shortest=1" \
		"${video[@]}" -t 10 "$out/face-stepping-back.mp4"
	;;
*)
	echo "face-media.sh: unknown set $set_name" >&2
	exit 1
	;;
esac
