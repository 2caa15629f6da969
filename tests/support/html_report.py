"""Reads a report page with Python's own HTML parser and prints what it holds
as JSON: the title, the heading lines, the counters, the captions and each
row's class and cell texts. Exits with 1 when the page is not well formed:
an end tag that does not close the element open, an element left open, or
anything the page should not hold (scripts, links, outside resources)."""

import json
import sys
from html.parser import HTMLParser

VOID = {"meta", "br", "hr", "img", "input", "link", "col", "wbr"}
FORBIDDEN = {"script", "link", "iframe", "object", "embed", "img"}


class Report(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.open = []
        self.errors = []
        self.result = {"title": "", "heading": {}, "counters": [], "captions": [], "rows": []}
        self.text = None
        self.row_class = None
        self.cells = None
        self.header_key = None

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag in FORBIDDEN or any(k in attrs for k in ("src", "href")):
            self.errors.append("outside resource or script: <%s>" % tag)
        if tag not in VOID:
            self.open.append((tag, attrs.get("class")))
        if tag in ("title", "th", "td", "li"):
            self.text = ""
        if tag == "tr":
            self.row_class = attrs.get("class")
            self.cells = []

    def handle_endtag(self, tag):
        if not self.open or self.open[-1][0] != tag:
            self.errors.append("</%s> closes %s" % (tag, self.open[-1][0] if self.open else "nothing"))
            return
        self.open.pop()
        tables = [c for t, c in self.open if t == "table"]
        table = tables[-1] if tables else None
        if tag == "title":
            self.result["title"] = self.text
        elif tag == "li":
            self.result["counters"].append(self.text)
        elif tag in ("th", "td"):
            self.cells.append(self.text)
        elif tag == "tr" and table == "heading":
            self.result["heading"][self.cells[0]] = self.cells[1]
        elif tag == "tr" and table == "rows":
            if any(t == "thead" for t, _ in self.open):
                self.result["captions"] = self.cells
            else:
                self.result["rows"].append({"class": self.row_class or "", "cells": self.cells})
        if tag in ("title", "th", "td", "li"):
            self.text = None

    def handle_data(self, data):
        if self.text is not None:
            self.text += data


def main():
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    try:
        page = data.decode("utf-8")
    except UnicodeDecodeError as e:
        print("not UTF-8: %s" % e, file=sys.stderr)
        return 1
    report = Report()
    report.feed(page)
    report.close()
    errors = report.errors + ["<%s> left open" % t for t, _ in report.open]
    if not page.startswith("<!DOCTYPE html>"):
        errors.append("no doctype")
    if errors:
        print("\n".join(errors), file=sys.stderr)
        return 1
    json.dump(report.result, sys.stdout)
    return 0


if __name__ == "__main__":
    sys.exit(main())
