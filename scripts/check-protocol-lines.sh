#!/usr/bin/env bash
# Checks that every protocol line the documents quote is one the code writes.
# A quoted line is a backticked text of README.md, docs/ or include/kal_drv.h
# (code blocks left out) of three words or more that holds no code: no
# identifier with "_" or a call, no path, no markup. Its placeholders (N, NNNN,
# M, X, CALL, "...") stand for any text; so does each printf conversion of the
# code's string literals (those of the product's folders and scripts/). A
# quoted line passes when it is a literal with its placeholders filled in, or
# the beginning of one. Literals with fewer than two words of their own are
# left out: made mostly of conversions, they would match anything.
# Prints each line no literal gives; fails when there is one.
#   usage: check-protocol-lines.sh [ROOT]    (ROOT: the source tree, default this one)
set -euo pipefail

FOLDERS="driver bridge host32 voices speech engine config platform espeakengine sdmodule kalsay scripts"

root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"
read -ra folders <<<"$FOLDERS"
sources=()
for folder in "${folders[@]}"; do
  [ -d "$folder" ] || continue
  while IFS= read -r file; do sources+=("$file"); done < <(find "$folder" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.sh' \) | sort)
done
docs=()
for doc in README.md docs/*.md include/kal_drv.h; do [ -f "$doc" ] && docs+=("$doc"); done

literals=$(mktemp)
trap 'rm -f "$literals"' EXIT
((${#sources[@]} == 0)) || perl -ne 'while (/"((?:[^"\\]|\\.)*)"/g) { print "$1\n" if length $1 > 2 }' "${sources[@]}" | sort -u >"$literals"

perl -0777 -e '
  my $literals = shift;
  open my $in, "<", $literals or die;
  my @patterns;
  for my $literal (split /\n/, do { local $/; <$in> }) {
    # The literal as a pattern: its conversions (%s, %04X, $name...) match any text.
    my @parts = split /(%[-+ #0-9.]*[a-zA-Z]|\$\{?[A-Za-z_][A-Za-z0-9_#*:-]*\}?)/, $literal;
    # A literal of conversions and little else ("%s: %s") would match any line.
    my $fixed = join " ", grep { !/^(%|\$)/ } @parts;
    next if (() = $fixed =~ /[A-Za-z]{3,}/g) < 2;
    my $pattern = join "", map { /^(%|\$)/ ? ".+?" : quotemeta } @parts;
    push @patterns, [$literal, qr/^$pattern$/];
  }
  my ($checked, $problems) = (0, 0);
  for my $doc (@ARGV) {
    open my $file, "<", $doc or die;
    local $/; my $text = <$file>;
    $text =~ s/^[ \t]*```.*?^[ \t]*```//gms;
    my %seen;
    while ($text =~ /`([^`]+)`/g) {
      my $quoted = $1;
      $quoted =~ s/\s*\n\s*/ /g;
      next if (split / /, $quoted) < 3;
      next if $quoted =~ m{[_=\[\]{}*/\\"<>;&|\$]|^[a-z]|[A-Za-z]\(};
      next if $seen{$quoted}++;
      $checked++;
      # Placeholders become one character no literal holds.
      (my $filled = $quoted) =~ s/(\s*\.\.\.$|\b(?:N+|M|X|CALL)\b)/\x01/g;
      my $found = 0;
      for my $entry (@patterns) {
        my ($literal, $pattern) = @$entry;
        if ($filled =~ $pattern || ($filled !~ /\x01/ && index($literal, $filled) == 0)) { $found = 1; last }
        # A line cut with "...": the literal up to where the quote ends.
        if ($filled =~ /\x01$/) {
          (my $stem = $filled) =~ s/\x01$//;
          for my $cut (1 .. length $literal) {
            my $head = substr $literal, 0, $cut;
            next unless $head =~ /\S$/;
            my @parts = split /(%[-+ #0-9.]*[a-zA-Z])/, $head;
            my $p = join "", map { /^%/ ? ".+?" : quotemeta } @parts;
            if ($stem =~ /^$p\s*$/) { $found = 1; last }
          }
          last if $found;
        }
      }
      next if $found;
      print "$doc: no code writes the line \"$quoted\"\n";
      $problems++;
    }
  }
  print "quoted lines checked: $checked\n";
  print "quoted lines no code writes: $problems\n";
  exit($problems ? 1 : 0);
' "$literals" "${docs[@]}"
