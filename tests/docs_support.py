"""Docstrings: where a docstring's text is fixed, it comes first, as its own paragraphs, and the
documentation of arguments, results and errors follows."""


def documented_after(doc, fixed):
    """The documentation that follows the fixed text `fixed` at the start of `doc` (which fails the
    test unless it starts so, with a paragraph break after the fixed text)."""
    assert doc is not None and doc.startswith(fixed + "\n\n"), doc
    rest = doc[len(fixed) + 2:]
    assert rest.strip(), "nothing documented after the fixed text"
    return rest
