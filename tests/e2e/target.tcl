# A third-party target application for the end-to-end tests: a Tk text widget that pastes on
# Shift+Insert and copies on Ctrl+Insert. The test drives it through standard input, one command per
# line, and reads answers from standard output, one line each:
#   dump          -> the widget's content as hex-encoded UTF-8
#   set HEX       -> replaces the content with the hex-encoded UTF-8 text; answers "ok"
#   selectall     -> selects the whole content; answers "ok"
#   focus         -> gives the text widget the keyboard focus; answers "ok"
wm title . [lindex $argv 0]
# Tk's own X11 binding pastes beside the selection; GTK and Qt editors replace it, as the selection
# conversion expects of a target. Make this target replace the selection too.
bind Text <<Paste>> {
    catch {%W delete sel.first sel.last}
    tk_textPaste %W
    break
}
text .t -width 50 -height 12 -wrap none -undo 0
pack .t -fill both -expand 1
focus .t

fconfigure stdin -blocking 0 -translation lf
fconfigure stdout -translation lf -buffering line

proc answer {text} { puts $text; flush stdout }

proc handle {} {
    if {[gets stdin line] < 0} {
        if {[eof stdin]} { exit 0 }
        return
    }
    set command [lindex [split $line " "] 0]
    set argument [string range $line [expr {[string length $command] + 1}] end]
    switch -- $command {
        dump {
            answer [binary encode hex [encoding convertto utf-8 [.t get 1.0 end-1c]]]
        }
        set {
            .t delete 1.0 end
            .t insert 1.0 [encoding convertfrom utf-8 [binary decode hex $argument]]
            answer ok
        }
        selectall {
            .t tag remove sel 1.0 end
            .t tag add sel 1.0 end-1c
            answer ok
        }
        focus {
            focus -force .t
            answer ok
        }
        default { answer "unknown $command" }
    }
}
fileevent stdin readable handle
