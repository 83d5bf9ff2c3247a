#!/usr/bin/env python3
"""Writes the fuzzers' seed corpus: small SAMI files shaped like real ones, each
in every encoding that can hold its text. Run from anywhere; rewrites
tests/fuzz/corpus/."""
import os

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus")

HEADER = ("<SAMI>\n<HEAD>\n<TITLE>{title}</TITLE>\n<STYLE TYPE=\"text/css\">\n<!--\n"
          "P {{ margin-left:8pt; font-size:20pt; }}\n.{cls} {{ Name:{lang}; lang:{code}; }}\n-->\n"
          "</STYLE>\n</HEAD>\n<BODY>\n")
FOOTER = "</BODY>\n</SAMI>\n"


def sami(body, cls="KRCC", lang="Korean", code="ko-KR", title="Sample"):
    return HEADER.format(title=title, cls=cls, lang=lang, code=code) + body + FOOTER


def blocks(items, cls="KRCC"):
    return "".join("<SYNC Start={}><P Class={}>{}\n".format(t, cls, text) for t, text in items)


KOREAN = {
    "korean_dialogue": sami(blocks([(1000, "안녕하세요"), (2500, "&nbsp;"),
                                    (3000, "어디 가세요?<br>시장에 가요."), (5200, "&nbsp;")])),
    "korean_repeats": sami(blocks([(100, "가나다"), (200, "가나다"), (300, "가나다"),
                                   (400, "한국어 자막을 스무 글자로 써 봅니다 하나둘셋"),
                                   (500, "&nbsp;")])),
    "korean_attribute": sami("<SYNC Start=100 Title=\"자막\"><P Class=KRCC>첫째\n"
                             "<SYNC Start=200 Title=\"자막\"><P Class=KRCC>둘째\n"
                             "<SYNC Start=300><P Class=KRCC>&nbsp;\n"),
    "korean_no_footer": HEADER.format(title="끝", cls="KRCC", lang="Korean", code="ko-KR")
    + "<SYNC Start=500><P Class=KRCC>마지막 줄",
}

LATIN = {
    "latin_dialogue": sami(blocks([(1000, "Café au lait, s'il vous plaît."), (2000, "&nbsp;"),
                                   (2500, "Ça va?<BR>Très bien, merci."), (4000, "&nbsp;")],
                                  cls="FRCC"), cls="FRCC", lang="French", code="fr-FR"),
    "latin_entities": sami(blocks([(100, "Tom &nbsp Jerry &amp; Spike"), (200, "a &NBSP; b"),
                                   (300, "x < y and naïve"), (400, "&nbsp;")], cls="ENCC"),
                           cls="ENCC", lang="English", code="en-US"),
}

ASCII = {
    "one_cue": sami("<SYNC Start=100><P>Hello<br>World\n<SYNC Start=200><P>&nbsp;\n"),
    "sync_values": sami("<SYNC Start=\"1000\"><P>quoted\n<SYNC Start='2000'><P>single\n"
                        "<SYNC Start= 3000><P>spaced\n<SYNC Start=-5><P>negative\n"
                        "<SYNC Start=+7><P>plus\n<SYNC Start=123456789012345678901234567890><P>big\n"
                        "<SYNC Start=><P>nothing\n<sync start=9000 End=99999><p>end attr\n"
                        "<SYNC  Start=9500><P>two spaces\n<SYNC Start=10000><P>&nbsp;\n"),
    "split_sync_tag": "<SYNC Start=1>A<SYNC Start=2\r\n>B<SYNC Start=3>C",
    "header_comment": "<SAMI><HEAD><!-- <SYNC Start=50>in a comment --></HEAD><BODY>\n"
                      "<SYNC Start=100><P>one<br/>two</br>three<br />four\n"
                      "<SYNC Start=200><P>a<br> <br>b\n<SYNC Start=300><P>&nbsp;\n" + FOOTER,
    "x_a_a": sami(blocks([(100, "X"), (200, "A"), (300, "A"), (400, "&nbsp;")], cls="ENCC")),
    "no_clearing": sami(blocks([(100, "first"), (200, "second"), (300, "third"),
                                (400, "&nbsp;")], cls="ENCC")),
    "long_end_attribute": sami("<SYNC Start=100><P>A\n<SYNC Start=200><P>A\n"
                               "<SYNC Start=300 End=" + "9" * 40 + " Extra=\"padding padding\"><P>B\n"
                               "<SYNC Start=400><P>&nbsp;\n"),
    "last_block_nbsp": "<SAMI><BODY><SYNC Start=100>x<SYNC Start=500>&nbsp;",
}

EMOJI = {
    # U+1F600 GRINNING FACE and U+20BB7 (a CJK extension B ideograph): surrogate pairs.
    "supplementary": sami(blocks([(100, "smile \U0001F600"), (200, "\U00020BB7 rare"),
                                  (300, "&nbsp;")], cls="ENCC")),
}


def crlf(text):
    return text.replace("\n", "\r\n")


def encodings_for(text):
    out = {"utf16le_bom": b"\xff\xfe" + crlf(text).encode("utf-16-le"),
           "utf8_bom": b"\xef\xbb\xbf" + crlf(text).encode("utf-8"),
           "utf8": text.encode("utf-8")}  # LF-only line ends for variety
    for name, codec in (("cp949", "cp949"), ("cp1252", "cp1252")):
        try:
            out[name] = crlf(text).encode(codec)
        except UnicodeEncodeError:
            pass
    return out


def main():
    os.makedirs(OUT, exist_ok=True)
    for old in os.listdir(OUT):
        os.remove(os.path.join(OUT, old))
    count = 0
    for group in (KOREAN, LATIN, ASCII, EMOJI):
        for name, text in group.items():
            encoded = encodings_for(text)
            if group is ASCII:  # ASCII reads alike in the text encodings; keep one of them
                encoded = {k: v for k, v in encoded.items() if k in ("utf16le_bom", "cp1252")}
                encoded["cr_only"] = text.replace("\r\n", "\r").replace("\n", "\r").encode()
            for enc, data in encoded.items():
                with open(os.path.join(OUT, "{}.{}.smi".format(name, enc)), "wb") as f:
                    f.write(data)
                count += 1
    print("wrote", count, "files to", OUT)


main()
