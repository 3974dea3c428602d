# The chart of the benchmark report: every case's cost along each path as a ratio to the contract's
# floor (the least the member's contract costs: the ANSI conversions and the returned string beside
# the kernel32 call), on a logarithmic scale, with the targets' limits drawn across; the first bar of
# each case is the contract floor itself over the bare kernel32 call.
#   gnuplot -e "datafile='latest.dat'; outfile='latest.png'; subtitle='...'" chart.gp
set terminal pngcairo size 1500,820 font "DejaVu Sans,10" noenhanced
set output outfile
set title sprintf("AtomTables10: cost per call as a multiple of the contract's floor\n(the kernel32 call plus the ANSI conversion and returned string any implementation makes)\n%s", subtitle)
set style data histogram
set style histogram cluster gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set logscale y 2
set yrange [0.5:2048]
set ylabel "× the contract floor (log scale)"
set ytics ("0.5" 0.5, "1" 1, "1.3" 1.3, "2" 2, "2.5" 2.5, "4" 4, "8" 8, "16" 16, "32" 32, "64" 64, "128" 128, "256" 256, "512" 512, "1024" 1024)
set grid ytics lc rgb "#dddddd"
set xtics rotate by 35 right scale 0 font ",9" nomirror
set datafile missing "-"
set key inside top right box opaque
set bmargin 13
set lmargin 14
plot datafile using 2:xtic(1) title "contract floor itself, × the kernel32 call" lc rgb "#bbbbbb", \
     '' using 3 title "vtable" lc rgb "#4477aa", \
     '' using 4 title "Invoke by DISPID" lc rgb "#66ccee", \
     '' using 5 title "GetIDsOfNames + Invoke" lc rgb "#ccbb44", \
     '' using 6 title "VBScript loop, net" lc rgb "#ee6677", \
     1.3 with lines dt 2 lw 1.5 lc rgb "#228833" title "targets: vtable 1.3× (2.0× name readers), Invoke 2.5×", \
     2.0 with lines dt 2 lw 1.5 lc rgb "#228833" notitle, \
     2.5 with lines dt 3 lw 1.5 lc rgb "#228833" notitle
