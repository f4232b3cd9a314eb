#!/usr/bin/perl
# IPP messages for the printer tests, beside tests/lib.sh.
#
#   perl ipp.pl request MAJOR.MINOR OPERATION URI [NAME | GROUP:TAG:NAME=VALUE]...
#       writes a request (OPERATION in hex) as Windows' wizard sends one: the charset,
#       language, printer-uri, requesting-user-name, then each GROUP:TAG:NAME=VALUE (GROUP op
#       or job, TAG in hex, VALUE as bytes) and requested-attributes naming each NAME;
#   perl ipp.pl decode
#       reads a response and prints "version V status S request-id N", then one line per
#       attribute: "GROUP NAME TAG VALUE,VALUE..." (texts quoted, collections in braces).
use strict;
use warnings;

my %tags = (0x13 => 'no-value', 0x12 => 'unknown', 0x10 => 'unsupported', 0x21 => 'integer',
    0x22 => 'boolean', 0x23 => 'enum', 0x30 => 'octetString', 0x31 => 'dateTime',
    0x32 => 'resolution', 0x33 => 'rangeOfInteger', 0x34 => 'collection',
    0x35 => 'textWithLanguage', 0x36 => 'nameWithLanguage', 0x41 => 'textWithoutLanguage',
    0x42 => 'nameWithoutLanguage', 0x44 => 'keyword', 0x45 => 'uri', 0x46 => 'uriScheme',
    0x47 => 'charset', 0x48 => 'naturalLanguage', 0x49 => 'mimeMediaType');
my %groups = (1 => 'operation', 2 => 'job', 4 => 'printer', 5 => 'unsupported');

sub field { my ($tag, $name, $value) = @_; pack('Cn/a*n/a*', $tag, $name, $value) }

if (($ARGV[0] // '') eq 'request') {
    my (undef, $version, $operation, $uri, @rest) = @ARGV;
    my ($major, $minor) = split /\./, $version;
    my @names = grep { !/^(op|job):/ } @rest;
    my %group = (op => '', job => '');
    for (grep { /^(op|job):/ } @rest) {
        my ($g, $tag, $name, $value) = /^(op|job):([0-9a-fA-F]+):([^=]+)=(.*)$/s or die "bad $_\n";
        $group{$g} .= field(hex $tag, $name, $value);
    }
    binmode STDOUT;
    print pack('CCnN', $major, $minor, hex $operation, 1), "\x01",
        field(0x47, 'attributes-charset', 'utf-8'),
        field(0x48, 'attributes-natural-language', 'en'), field(0x45, 'printer-uri', $uri),
        field(0x42, 'requesting-user-name', 'user'), $group{op};
    for my $k (0 .. $#names) {
        print field(0x44, $k ? '' : 'requested-attributes', $names[$k]);
    }
    print $group{job} eq '' ? '' : "\x02$group{job}", "\x03";
    exit 0;
}

local $/;
binmode STDIN;
my $bytes = <STDIN> // '';
die "short response\n" if length $bytes < 9;
my ($major, $minor, $status, $id) = unpack('CCnN', $bytes);
printf "version %d.%d status %04x request-id %d\n", $major, $minor, $status, $id;
my $at = 8;
my ($group, @lines) = ('');

# value TAG BYTES: one value as text.
sub value {
    my ($tag, $v) = @_;
    return unpack('l>', $v) if $tag == 0x21 || $tag == 0x23;
    return unpack('C', $v) ? 'true' : 'false' if $tag == 0x22;
    if ($tag == 0x32) { my ($x, $y, $u) = unpack('l>l>C', $v); return "${x}x$y" . ($u == 3 ? 'dpi' : 'dpcm') }
    return join('-', unpack('l>l>', $v)) if $tag == 0x33;
    return $tags{$tag} if $tag < 0x20;
    return unpack('H*', $v) if $tag == 0x30 || $tag == 0x31;
    return "\"$v\"";
}
# next_field: tag, name and value at $at, moving past them.
sub next_field {
    my $tag = unpack('C', substr($bytes, $at, 1));
    my $name_length = unpack('n', substr($bytes, $at + 1, 2));
    my $name = substr($bytes, $at + 3, $name_length);
    my $value_length = unpack('n', substr($bytes, $at + 3 + $name_length, 2));
    my $value = substr($bytes, $at + 5 + $name_length, $value_length);
    $at += 5 + $name_length + $value_length;
    return ($tag, $name, $value);
}
# collection: the members up to the end of the collection, as "{name=value ...}".
sub collection {
    my @members;
    while (1) {
        my ($tag, undef, $value) = next_field();
        return '{' . join(' ', @members) . '}' if $tag == 0x37;
        if ($tag == 0x4A) { push @members, "$value="; next }
        my $text = $tag == 0x34 ? collection() : value($tag, $value);
        $members[-1] .= ($members[-1] =~ /=$/ ? '' : ',') . $text;
    }
}
while ($at < length $bytes) {
    my $tag = unpack('C', substr($bytes, $at, 1));
    last if $tag == 3;
    if ($tag < 0x10) { $group = $groups{$tag} // "group$tag"; ++$at; next }
    my ($t, $name, $value) = next_field();
    my $text = $t == 0x34 ? collection() : value($t, $value);
    if ($name eq '') { $lines[-1] .= ",$text"; next }
    push @lines, "$group $name " . ($tags{$t} // sprintf('tag%02x', $t)) . " $text";
}
print "$_\n" for @lines;
