#!/usr/bin/perl
# Prints the fixed texts of the messages in the given C++ files, one a line
# after the file's name and a tab: every string literal (adjacent literals
# joined, as the compiler joins them) that holds a word of two letters or
# more, cut at its printf conversions, with runs of white space made one
# blank and the punctuation at both ends taken off. Comments, character
# literals and preprocessor lines (the includes) are passed over.
#
# Usage: message_texts.pl FILE...
use strict;
use warnings;

# The string literals of one source text, adjacent ones joined.
sub Literals {
  my ($src) = @_;
  my @literals;
  my $joinable = 0;  # only white space since the end of the last literal
  my $i = 0;
  my $n = length $src;
  my $lineStart = 1;
  while ($i < $n) {
    my $c = substr($src, $i, 1);
    my $two = substr($src, $i, 2);
    if ($two eq '//' || ($c eq '#' && $lineStart)) {
      my $end = index($src, "\n", $i);
      $i = $end < 0 ? $n : $end;
      next;
    }
    if ($two eq '/*') {
      my $end = index($src, '*/', $i + 2);
      $i = $end < 0 ? $n : $end + 2;
      next;
    }
    if ($c eq "'") {
      $i++;
      $i++ if substr($src, $i, 1) eq '\\';
      $i++ while $i < $n && substr($src, $i, 1) ne "'";
      $i++;
      $joinable = 0;
      $lineStart = 0;
      next;
    }
    if ($c eq '"') {
      my $text = '';
      $i++;
      while ($i < $n && substr($src, $i, 1) ne '"') {
        my $d = substr($src, $i, 1);
        if ($d ne '\\') {
          $text .= $d;
          $i++;
          next;
        }
        my $e = substr($src, $i + 1, 1);
        if ($e eq 'x') {
          my ($hex) = substr($src, $i + 2, 2) =~ /^([0-9A-Fa-f]{1,2})/;
          $text .= chr(hex $hex);
          $i += 2 + length $hex;
          next;
        }
        $text .= $e eq 'n' ? "\n" : $e eq 'r' ? "\r" : $e eq 't' ? "\t" : $e;
        $i += 2;
      }
      $i++;
      if ($joinable) {
        $literals[-1] .= $text;
      } else {
        push @literals, $text;
      }
      $joinable = 1;
      $lineStart = 0;
      next;
    }
    if ($c eq "\n") {
      $lineStart = 1;
    } elsif ($c !~ /\s/) {
      $joinable = 0;
      $lineStart = 0;
    }
    $i++;
  }
  return @literals;
}

for my $file (@ARGV) {
  open(my $fh, '<', $file) or die "$file: $!\n";
  my $src = do { local $/; <$fh> };
  close $fh;
  for my $literal (Literals($src)) {
    for my $text (split /%[-+ #0-9.]*[dusxXc]/, $literal) {
      next unless $text =~ /[A-Za-z]{2}/;
      $text =~ s/\s+/ /g;
      $text =~ s/^[\s:;,.'"()!]+//;
      $text =~ s/[\s:;,.'"(!]+$//;
      print "$file\t$text\n" if length $text;
    }
  }
}
