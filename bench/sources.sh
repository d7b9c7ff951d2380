# The generated 1080p sources the benchmarks share, by letter: A to D are
# the survival sources (D held out: nothing was tuned on it), E to J more
# lavfi pictures, I with a black letterbox bar. Sourced by the scripts.
declare -A sources=(
  [A]="testsrc2=size=1920x1080:rate=25,noise=alls=12:allf=t"
  [B]="mandelbrot=size=1920x1080:rate=25"
  [C]="gradients=size=1920x1080:rate=25:speed=0.02"
  [D]="life=size=1920x1080:rate=25:mold=10:ratio=0.4:death_color=#603020:life_color=#e0e0a0"
  [E]="smptehdbars=size=1920x1080:rate=25"
  [F]="testsrc=size=1920x1080:rate=25"
  [G]="rgbtestsrc=size=1920x1080:rate=25"
  [H]="cellauto=size=1920x1080:rate=25:rule=110"
  [I]="testsrc2=size=1920x1080:rate=25,crop=1920:940:0:0,pad=1920:1080:0:140:black"
  [J]="sierpinski=size=1920x1080:rate=25"
)
