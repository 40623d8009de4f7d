"""The documentation of tavo_core's type stubs, one entry per documented name (written out by
tools/generate_stubs.py).

Keys: "tavo_core" (the module), "Class", "Class.attribute", "Class.Member" (enumerations),
"Class.__new__" (the constructor), "Class.method", "function". A callable's entry is a dict with "doc", "params"
(one text per parameter), and optionally "returns" and "raises" (a list of "Error: when" lines); a
class's, attribute's or member's entry is a text. Texts are laid out as they should appear (the
generator keeps their lines), each line short enough for 100 columns once indented.
"""

DOCS = {}
