#!/usr/bin/perl
# decipher-wire.pl TRANSCRIPT: deciphers a raw wire transcript (tests/golden/enciphered) with
# Crypt::Twofish, independently of the program's own cipher. For each connection it prints
#   connect IV      the 16 bytes the host sent first, in clear
#   > HEX           every later byte the host sent, deciphered, as one run of hex digits
#   < HEX           every byte the device sent, deciphered
# Each direction is Twofish-128 in CFB-128 from the connection's IV: keystream block k is the
# block encryption of the previous 16 ciphertext bytes of that direction (of the IV for k = 0),
# and the stream runs on across the direction's messages.
use strict;
use warnings;
use Crypt::Twofish;

die "usage: decipher-wire.pl TRANSCRIPT\n" unless @ARGV == 1;
open(my $in, '<', $ARGV[0]) or die "$ARGV[0]: $!\n";

my $key;
my @connections;    # each: { host => bytes, device => bytes }
while (my $line = <$in>) {
    chomp $line;
    if ($line =~ /^# key: ([0-9A-Fa-f]{32})$/) { $key = pack('H*', $1); next; }
    next if $line =~ /^#/ || $line eq '';
    if ($line eq 'connect') { push @connections, { host => '', device => '' }; next; }
    next if $line =~ /^closed by (host|device)$/;
    my ($direction, $hex) = $line =~ /^([<>]) ((?:[0-9A-Fa-f]{2})+)$/
        or die "line $.: not a transcript line\n";
    die "line $.: bytes before any connect\n" unless @connections;
    $connections[-1]{ $direction eq '>' ? 'host' : 'device' } .= pack('H*', $hex);
}
die "no key in $ARGV[0]\n" unless defined $key;
my $cipher = Crypt::Twofish->new($key);

# Deciphers a direction's whole stream, CFB-128 from the IV.
sub decipher {
    my ($iv, $stream) = @_;
    my $register = $iv;
    my $plain = '';
    for (my $at = 0; $at < length $stream; $at += 16) {
        my $block = substr($stream, $at, 16);
        my $keystream = substr($cipher->encrypt($register), 0, length $block);
        $plain .= $block ^ $keystream;
        $register = $block if length $block == 16;
    }
    return $plain;
}

for my $connection (@connections) {
    die "a connection without its IV\n" if length $connection->{host} < 16;
    my $iv = substr($connection->{host}, 0, 16);
    my $host = decipher($iv, substr($connection->{host}, 16));
    my $device = decipher($iv, $connection->{device});
    print 'connect ', uc unpack('H*', $iv), "\n";
    print '>', (length $host ? ' ' . uc unpack('H*', $host) : ''), "\n";
    print '<', (length $device ? ' ' . uc unpack('H*', $device) : ''), "\n";
}
