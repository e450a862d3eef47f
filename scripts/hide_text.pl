#!/usr/bin/perl
# Writes SIZE pseudo-random bytes drawn from SEED (the same bytes on every machine) with TEXT
# stored at OFFSET under ALGO and KEY: the inputs of the README's examples, which anyone can make
# again. KEY is decimal or 0x hex (a rotation family's r * 256 + x, as a row takes it); of XORK,
# the key's bytes as a row takes them (0x8c61d263 or 8c:61:d2:63), repeated from offset 0.
#
#   scripts/hide_text.pl SEED SIZE OFFSET ALGO KEY TEXT > FILE
use strict;
use warnings;

my ($seed, $size, $offset, $algo, $key, $text) = @ARGV;
die "usage: scripts/hide_text.pl SEED SIZE OFFSET ALGO KEY TEXT > FILE\n" unless defined $text;
die "the text does not fit at offset $offset\n" if $offset + length($text) > $size;
my @kbytes;
if ($algo eq 'XORK') {
  (my $hex = $key) =~ s/^0x|://gi;
  @kbytes = map { hex } ($hex =~ /(..)/g);
  die "no such key here: $key\n" unless @kbytes;
  $key = 0;
}
$key = $key =~ /^0x/i ? hex($key) : int($key);
my ($r, $x) = (($key >> 8) & 7, $key & 255);

# Perl's own generator, the same on every platform since Perl 5.20.
srand($seed);
my @bytes = map { int rand 256 } 1 .. $size;

sub ror {
  my ($v, $n) = @_;
  return $n ? (($v >> $n) | ($v << (8 - $n))) & 255 : $v;
}

# The stored byte of each decoded byte d at file offset i: the inverse of each decoder.
my %store = (
  XOR8    => sub { my ($d) = @_; $d ^ $x },
  ADD8    => sub { my ($d) = @_; ($d - $x) & 255 },
  SUB8    => sub { my ($d) = @_; ($d + $x) & 255 },
  XOR8ROL => sub { my ($d) = @_; ror($d, $r) ^ $x },
  ADD8ROL => sub { my ($d) = @_; (ror($d, $r) - $x) & 255 },
  ROL8ADD => sub { my ($d) = @_; ror(($d - $x) & 255, $r) },
  XOR8N   => sub { my ($d) = @_; $d == 0 || $d == $x ? $d : $d ^ $x },
  XOR8INC => sub { my ($d, $i) = @_; $d ^ (($x + $i) & 255) },
  XOR8DEC => sub { my ($d, $i) = @_; $d ^ (($x - $i) & 255) },
  XORK    => sub { my ($d, $i) = @_; $d ^ $kbytes[$i % @kbytes] },
);
my $encode = $store{$algo} or die "no such algorithm here: $algo\n";
my @chars = unpack 'C*', $text;
$bytes[$offset + $_] = $encode->($chars[$_], $offset + $_) for 0 .. $#chars;
binmode STDOUT;
print pack 'C*', @bytes;
