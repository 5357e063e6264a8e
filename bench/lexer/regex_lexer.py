# The regular-expression lexer of the Python twins (lex_source.py,
# lex_corpus.py): tokens split by one expression, nested into lists at the
# brackets, comments dropped. A lower bound for a hand-written lexer.
import re

token = re.compile(r'"[^"]*"|;[^\n]*|[\[\]]|[^\s\[\]";]+')


def lex(text):
    top = []
    stack = [top]
    for t in token.findall(text):
        if t == "[":
            inner = []
            stack[-1].append(inner)
            stack.append(inner)
        elif t == "]":
            if len(stack) > 1:
                stack.pop()
        elif t[0] != ";":
            stack[-1].append(t)
    return top
