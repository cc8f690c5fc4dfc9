"""The distribution set: what the installer copies where."""

# (file in the set, folder it goes to, installed name)
PROGRAMS_AND_DOCUMENTS = [("whirlo32._xe", "cgi", "whirlo32.exe"),
                          ("whirlo32.hlp", "anim", "whirlo32.hlp"),
                          ("whirlo32.wri", "anim", "whirlo32.wri"),
                          ("whirlo32._oc", "anim", "whirlo32.doc")]
FRAMES = [("whirlo%d._if" % n, "anim", "whirlo%d.gif" % n)
          for n in range(1, 14)]
TARGETS = PROGRAMS_AND_DOCUMENTS + FRAMES
