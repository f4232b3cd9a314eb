#!/usr/bin/perl
# Clients that crowd the printer's port, for tests/whole/printer_port.sh.
#
#   perl port_clients.pl crowd PORT IDLE SLOW SECONDS REQUEST
#       keeps IDLE connections open that send nothing and SLOW ones that send a request head a
#       byte every 2 s (each opened again when the printer closes it); meanwhile, every 0.5 s
#       for SECONDS, posts the IPP request in the file REQUEST on a connection of its own and
#       times its answer. Prints "asked N answered A slowest S refused R reopened O" (S in
#       seconds; an answer is an HTTP 200 whose IPP status is successful-ok).
#   perl port_clients.pl raster WIDTH HEIGHT...
#       writes a PWG raster document of noise, one 300 dpi sRGB page of WIDTH x HEIGHT for each
#       HEIGHT, every line in literal runs (nothing compresses).
#   perl port_clients.pl trickle PORT INTERVAL
#       sends a request head a byte every INTERVAL seconds until the printer closes the
#       connection (or for 30 s). Prints "closed after S status X" (S in seconds, X the
#       answer's HTTP status or "none"), or "open after 30".
#   perl port_clients.pl flood PORT LINES LINE_BYTES
#       sends a request head of LINES header lines of LINE_BYTES bytes each, reading the whole
#       time, until the head is sent or the printer ends the connection. Prints "sent B status
#       S" (S the answer's HTTP status, or "none").
use strict;
use warnings;
use IO::Select;
use IO::Socket::INET;
use Time::HiRes qw(time sleep);

my ($mode, $port) = (shift // '', shift // 0);
sub connect_port {
    IO::Socket::INET->new(PeerAddr => '127.0.0.1', PeerPort => $port, Proto => 'tcp')
}

$SIG{PIPE} = 'IGNORE';

if ($mode eq 'raster') {
    my ($width, @heights) = ($port, @ARGV);
    open my $random, '<:raw', '/dev/urandom' or die "/dev/urandom: $!\n";
    read($random, my $noise, 1 << 20) == 1 << 20 or die "short noise\n";
    binmode STDOUT;
    print 'RaS2';
    for my $height (@heights) {
        my $header = "\0" x 1796;
        my %fields = (276 => 300, 280 => 300, 372 => $width, 376 => $height, 384 => 8,
            388 => 24, 392 => 3 * $width, 400 => 19, 420 => 3);
        substr($header, $_, 4) = pack('N', $fields{$_}) for keys %fields;
        print $header;
        for my $line (1 .. $height) {
            my ($out, $at) = ("\0", ($line * 7919) % ((1 << 20) - 3 * $width));
            for (my $x = 0; $x < $width; $x += 128) {
                my $n = $width - $x < 128 ? $width - $x : 128;
                $out .= chr(257 - $n) . substr($noise, $at + 3 * $x, 3 * $n);
            }
            print $out;
        }
    }
    exit 0;
}

if ($mode eq 'trickle') {
    my $interval = shift;
    my $s = connect_port() or die "no connection: $!\n";
    my $head = "POST /ipp/print HTTP/1.1\r\n" . "X-Slow: yyyy\r\n" x 100;
    my ($start, $at, $answer) = (time, 0, '');
    while (time - $start < 30) {
        if (IO::Select->new($s)->can_read($interval)) {
            my $n = sysread($s, my $got, 4096);
            if (!$n) {
                my ($status) = $answer =~ m{^HTTP/1\.1 (\d+)};
                printf "closed after %.1f status %s\n", time - $start, $status // 'none';
                exit 0;
            }
            $answer .= $got;
            next;
        }
        syswrite($s, substr($head, $at++ % length $head, 1));
    }
    print "open after 30\n";
    exit 0;
}

if ($mode eq 'flood') {
    my ($lines, $bytes) = @ARGV;
    my $s = connect_port() or die "no connection: $!\n";
    $s->blocking(0);
    my $line = 'X-' . ('a' x ($bytes - 7)) . ": b\r\n";
    my ($pending, $sent, $left, $ended, $answer) = ("POST /ipp/print HTTP/1.1\r\nHost: x\r\n", 0, $lines, 0, '');
    my $until = time + 60;
    while (time < $until) {
        if (length $pending < 65536 && !$ended) {
            my $k = $left < 64 ? $left : 64;
            $pending .= $line x $k;
            $left -= $k;
            ($pending, $ended) = ("$pending\r\n", 1) if $left == 0;
        }
        my ($r, $w) = IO::Select->select(IO::Select->new($s),
            length $pending ? IO::Select->new($s) : undef, undef, 1);
        if ($r && @$r) {
            my $n = sysread($s, my $got, 65536);
            last if !$n; # closed, or reset
            $answer .= $got;
        }
        if ($w && @$w) {
            my $n = syswrite($s, $pending);
            last if !defined $n && !$!{EAGAIN};
            substr($pending, 0, $n // 0) = '';
            $sent += $n // 0;
        }
    }
    my ($status) = $answer =~ m{^HTTP/1\.1 (\d+)};
    print "sent $sent status ", $status // 'none', "\n";
    exit 0;
}

die "usage: port_clients.pl crowd|flood PORT ...\n" unless $mode eq 'crowd';
my ($idle, $slow, $seconds, $file) = @ARGV;
open my $in, '<:raw', $file or die "$file: $!\n";
my $body = do { local $/; <$in> };
my $request = "POST /ipp/print HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/ipp\r\n"
    . 'Content-Length: ' . length($body) . "\r\n\r\n$body";
my $head = "POST /ipp/print HTTP/1.1\r\nHost: x\r\n" . ("X-Slow: " . 'y' x 40 . "\r\n") x 20;

# Each crowding connection: [socket, slow, bytes sent].
my (@crowd, $reopened);
my $select = IO::Select->new;
sub open_one {
    my $slow = shift;
    my $s = connect_port() or die "no connection: $!\n";
    push @crowd, [$s, $slow, 0];
    $select->add($s);
}
open_one(0) for 1 .. $idle;
open_one(1) for 1 .. $slow;
$reopened = 0;

# ask: one request on a connection of its own; returns its time, or -1 when refused (503) or
# not answered within 5 s.
sub ask {
    my $start = time;
    my $s = connect_port() or return -1;
    print $s $request;
    $s->blocking(0);
    my $answer = '';
    while (time - $start < 5) {
        my @r = IO::Select->new($s)->can_read(0.05);
        next unless @r;
        my $n = sysread($s, my $got, 65536);
        last if !$n;
        $answer .= $got;
        if ($answer =~ /\r\n\r\n/) {
            my ($length) = $answer =~ /\r\nContent-Length: (\d+)/i;
            last if defined $length && length($answer) >= $-[0] + 4 + $length;
        }
    }
    close $s;
    my $elapsed = time - $start;
    return -2 if $answer =~ m{^HTTP/1\.1 503};
    return -1 unless $answer =~ m{^HTTP/1\.1 200} && $answer =~ /\r\n\r\n..\x00\x00/s;
    return $elapsed;
}

my ($asked, $answered, $refused, $slowest) = (0, 0, 0, 0);
my $end = time + $seconds;
my ($next_byte, $next_ask) = (time, time + 0.5);
while (time < $end) {
    if (time >= $next_byte) {
        for my $c (grep { $_->[1] } @crowd) {
            next if $c->[2] >= length $head;
            syswrite($c->[0], substr($head, $c->[2], 1)) and $c->[2]++;
        }
        $next_byte += 2;
    }
    if (time >= $next_ask) {
        my $t = ask();
        ++$asked;
        if ($t >= 0) { ++$answered; $slowest = $t if $t > $slowest } elsif ($t == -2) { ++$refused }
        $next_ask = time + 0.5;
    }
    # A connection the printer closed is opened again.
    for my $s ($select->can_read(0.05)) {
        my $n = sysread($s, my $got, 4096);
        next if $n;
        my ($c) = grep { $_->[0] == $s } @crowd;
        @crowd = grep { $_->[0] != $s } @crowd;
        $select->remove($s);
        close $s;
        open_one($c->[1]);
        ++$reopened;
    }
}
printf "asked %d answered %d slowest %.3f refused %d reopened %d\n", $asked, $answered,
    $slowest, $refused, $reopened;
